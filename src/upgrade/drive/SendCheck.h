#pragma once

#include "instrument/Uvx900.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace upgrade {

class DriveLookup;

// The check after each send: is what the run sent on the instrument? Asked
// of the drive lookup at the least cost the instrument allows:
// - its FTP server offers MLSD with sizes: once the last file planned for a
//   folder is sent, one listing of that folder checks every file sent into it;
// - else each file by SIZE as soon as it is sent;
// - the server declines SIZE as a command: the instrument's own catalogue,
//   folder by folder, as for MLSD;
// - nothing can say anything: each file is "sent, not verifiable".
// A file sent in the text type (a NAME file) is checked for presence only,
// right away, since its stored line ends may differ from the local ones;
// when nothing can confirm it, it is not verifiable, never missing.
class SendCheck
{
public:
    enum class Method { FtpListing, FtpSize, Catalogue, Nothing };

    explicit SendCheck(DriveLookup &drive);

    // A new run that means to send these instrument paths, in any order.
    // Without a plan every folder waits for settle().
    void begin(const QStringList &plannedPaths);
    // The checks due now that `size` bytes were sent to `path`: none while
    // its folder waits for more files, the whole folder's when this was its
    // last.
    [[nodiscard]] QList<UploadCheck> sent(const QString &path, qint64 size, bool textType);
    // The checks due now that the planned file at `instrumentPath` will not
    // be sent (it is there already): the folder's, when it was the last.
    [[nodiscard]] QList<UploadCheck> skipped(const QString &instrumentPath);
    // The checks of every file still waiting for its folder.
    [[nodiscard]] QList<UploadCheck> settle();
    // One memo line saying how many of the run's files could be checked,
    // and which way; empty when none was sent.
    [[nodiscard]] QString summary() const;

    // The line of a run whose every file was verified that one way.
    [[nodiscard]] static QString methodText(Method method);

private:
    struct Waiting
    {
        QString path;
        qint64 size = 0;
    };

    [[nodiscard]] Method method();
    // By value: the caller may pass an element of waitingFolders, which
    // these remove.
    [[nodiscard]] QList<UploadCheck> checkFolder(QString folder);
    [[nodiscard]] QList<UploadCheck> checkBySize(QString folder);
    [[nodiscard]] std::optional<UploadCheck> sizeCheck(const Waiting &file);
    [[nodiscard]] UploadCheck presenceCheck(const QString &path, qint64 size);
    // Counts a kit file's verdict for the memo line.
    void counted(const UploadCheck &check, Method how);

    DriveLookup &drive;
    std::optional<Method> chosen;
    QHash<QString, int> plannedLeft; // files still to come, per folder
    QStringList waitingFolders;      // in the order their first file was sent
    QHash<QString, QList<Waiting>> waiting;
    QList<Method> ways;             // of verified files, in the order first used
    QMap<Method, qint64> verifiedBy; // kit files
    qint64 notVerifiable = 0;        // kit files
    bool catalogueAfterSize = false; // the catalogue was turned to because SIZE was declined
};

} // namespace upgrade

#pragma once

#include "instrument/Uvx900.h"
#include "upgrade/RunObserver.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Checks that what a run sent is on the instrument, at the least cost the
// instrument allows:
// - its FTP server offers MLSD with sizes: once the last file planned for a
//   folder is sent, one listing of that folder checks every file sent into it;
// - else each file by SIZE as soon as it is sent;
// - the server declines SIZE as a command: the instrument's own catalogue,
//   folder by folder, as for MLSD;
// - nothing can say anything: each file is "sent, not verifiable".
// A file sent in the text type (a NAME file) is checked for presence only,
// right away, since its stored line ends may differ from the local ones;
// when nothing can confirm it, it is not verifiable, never missing.
class FolderVerifier
{
public:
    enum class Method { FtpListing, FtpSize, Catalogue, Nothing };

    explicit FolderVerifier(TfrmVX900 &link);

    // A new run that means to send these instrument paths, in any order.
    // Without a plan every folder waits for settle().
    void begin(const QStringList &plannedPaths);
    // The checks due now that `file` has been sent: none while its folder
    // waits for more files, the whole folder's when this was its last.
    [[nodiscard]] QList<UploadCheck> sent(const FileTransfer &file, bool textType);
    // The checks due now that the planned file at `instrumentPath` will not
    // be sent (it is there already): the folder's, when it was the last.
    [[nodiscard]] QList<UploadCheck> skipped(const QString &instrumentPath);
    // The checks of every file still waiting for its folder.
    [[nodiscard]] QList<UploadCheck> settle();
    // One memo line saying which way the run's files were checked; empty
    // when none was.
    [[nodiscard]] QString summary() const;

    [[nodiscard]] static QString methodText(Method method);

private:
    struct Waiting
    {
        QString path;
        QString name;
        qint64 size = 0;
    };

    [[nodiscard]] Method method();
    // By value: the caller may pass an element of waitingFolders, which
    // these remove.
    [[nodiscard]] QList<UploadCheck> checkFolder(QString folder);
    [[nodiscard]] QList<UploadCheck> checkBySize(QString folder);
    [[nodiscard]] std::optional<UploadCheck> sizeCheck(const Waiting &file);
    [[nodiscard]] UploadCheck presenceCheck(const FileTransfer &file);
    void used(Method how);

    TfrmVX900 &link;
    std::optional<Method> chosen;
    QHash<QString, int> plannedLeft; // files still to come, per folder
    QStringList waitingFolders;      // in the order their first file was sent
    QHash<QString, QList<Waiting>> waiting;
    QList<Method> ways; // in the order they were first used
};

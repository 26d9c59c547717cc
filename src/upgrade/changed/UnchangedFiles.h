#pragma once

#include "upgrade/record/SendIndex.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace upgrade {

class DriveLookup;

// Which kit files a run with --changed-only leaves alone: those the
// instrument holds at the kit's size whose very content (path and SHA-256)
// a run on record sent there and verified. With trustSize the size alone
// will do. Sizes come from the run's drive lookup.
// A file is sent whenever anything is in doubt.
class UnchangedFiles
{
public:
    UnchangedFiles(DriveLookup &drive, const QString &historyFile, bool trustSize);
    ~UnchangedFiles();
    UnchangedFiles(const UnchangedFiles &) = delete;
    UnchangedFiles &operator=(const UnchangedFiles &) = delete;

    struct Verdict
    {
        // The run that verified this content there; invalid when only the
        // size vouches for it (trustSize).
        QDateTime verifiedOn;
    };
    // Nothing when the file must be sent. `identityReply` and `address`
    // name the instrument (see InstrumentKey).
    [[nodiscard]] std::optional<Verdict> check(const QString &identityReply, const QString &address,
                                               const QString &instrumentPath, qint64 size,
                                               const QByteArray &sha256Hex);
    // Counts a file the run then left alone.
    void skipped(qint64 size, const Verdict &verdict);

    // The memo line: how many files and bytes were left alone, since which
    // recorded run; of a dry run, how many a run would leave alone.
    [[nodiscard]] QString summary(bool dryRun = false) const;
    // Why the index could not be used as it was; empty when it was sound.
    [[nodiscard]] QString indexProblem() const { return index.problem(); }
    [[nodiscard]] qint64 filesSkipped() const { return files; }

private:
    DriveLookup &drive;
    SendIndex index;
    bool trustSize;
    qint64 files = 0;
    qint64 bytes = 0;
    qint64 bySizeAlone = 0;
    QDateTime since; // the oldest run whose verification was relied on
};

} // namespace upgrade

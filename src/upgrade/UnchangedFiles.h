#pragma once

#include "upgrade/SendIndex.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>

class TfrmVX900;
struct FolderListing;

namespace upgrade {

// Which kit files a run with --changed-only leaves alone: those the
// instrument holds at the kit's size whose very content (path and SHA-256)
// a run on record sent there and verified. With trustSize the size alone
// will do. Sizes come from one listing per folder (MLSD, else the
// instrument's catalogue), and from SIZE for a file the listing can't size.
// A file is sent whenever anything is in doubt.
class UnchangedFiles
{
public:
    UnchangedFiles(TfrmVX900 &link, const QString &historyFile, bool trustSize);
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

    // Whether the instrument holds the folder `name` in `parent`, by the
    // parent's listing (the same one the files in `parent` are checked by);
    // nothing when the listing can't tell.
    [[nodiscard]] std::optional<bool> folderPresent(const QString &parent, const QString &name);
    // The run made this folder just now: nothing in it is on the instrument,
    // so nothing in it is asked for.
    void madeFolder(const QString &parent, const QString &name);

    // The memo line: how many files and bytes were left alone, since which
    // recorded run; of a dry run, how many a run would leave alone.
    [[nodiscard]] QString summary(bool dryRun = false) const;
    // Why the index could not be used as it was; empty when it was sound.
    [[nodiscard]] QString indexProblem() const { return index.problem(); }
    [[nodiscard]] qint64 filesSkipped() const { return files; }

private:
    // The instrument's size of that file; nothing when unknown or absent.
    [[nodiscard]] std::optional<qint64> sizeOnInstrument(const QString &instrumentPath);
    // What the instrument holds in `folder`, listed once. Every look at the
    // drive goes through here, so that one lookup of the whole run can take
    // its place.
    [[nodiscard]] std::shared_ptr<const FolderListing> listingOf(const QString &folder);

    TfrmVX900 &link;
    SendIndex index;
    bool trustSize;
    QHash<QString, std::shared_ptr<const FolderListing>> listings; // per folder, once
    qint64 files = 0;
    qint64 bytes = 0;
    qint64 bySizeAlone = 0;
    QDateTime since; // the oldest run whose verification was relied on
};

} // namespace upgrade

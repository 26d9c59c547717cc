#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

class QFile;

namespace upgrade {

// What the file system says about an open file's content: a file whose
// stamp is unchanged has not been written since (the change time moves with
// every write and every change of the other fields, and can't be set back).
struct FileStamp
{
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FileStamp &) const = default;
    // The stamp of an open file; nothing when the system won't say.
    [[nodiscard]] static std::optional<FileStamp> of(const QFile &file);
    // The stamp of what lies at `path` now (links followed).
    [[nodiscard]] static std::optional<FileStamp> atPath(const QString &path);
    // Nanoseconds since it was last written, by the clock the file system
    // stamps with (read to the nanosecond: a millisecond clock would put a
    // write of this very millisecond in the future).
    [[nodiscard]] qint64 ageNs() const;
};

// Content digests of local files keyed by path and stamp, kept in one file
// between runs, so that an unchanged kit is not read twice for its digests.
// A cache that can't be read starts empty and one that can't be written is
// lost: it only ever saves time, never decides anything.
//
// It holds the kits in use, not every file it ever saw: each load counts one
// run, and the save leaves out the files that are gone and those that no
// run found in the cache for the last KeepRuns runs.
class DigestCache
{
public:
    // The file system's clock ticks coarsely (a few milliseconds); two
    // seconds leave room for file systems that keep whole seconds.
    static constexpr qint64 DefaultSettleNs = 2'000'000'000;
    // An entry not used in this many runs is dropped.
    static constexpr qint64 KeepRuns = 100;

    // `settleNs`: how long ago a file must have been written last for its
    // digest to be kept.
    explicit DigestCache(QString file, qint64 settleNs = DefaultSettleNs);
    // Where the cache of runs recorded in `historyFile` lies: beside it.
    [[nodiscard]] static QString BesideHistory(const QString &historyFile);

    // Reads the cache file and starts the next run; a missing or damaged
    // file gives an empty cache.
    void load();
    // The digest of a file with that stamp; the entry counts as used by
    // this run.
    [[nodiscard]] std::optional<QByteArray> find(const QString &path, const FileStamp &stamp);
    // A file written in the last moments may be written again within the
    // same tick of the file system's clock, with the same stamp: such a
    // digest is not kept.
    void remember(const QString &path, const FileStamp &stamp, const QByteArray &sha256);
    // Writes the cache file whole (replacing it at once, so that a parallel
    // run reads the old one or the new one), without the entries that are
    // out of use; what went wrong, or nothing.
    [[nodiscard]] std::optional<QString> save() const;

    [[nodiscard]] QString fileName() const { return path; }
    // The run the cache counts now: one more than the saved file's.
    [[nodiscard]] qint64 currentRun() const { return run; }

    // At most this many files are kept; the least recently used go first.
    static constexpr int Capacity = 100000;

private:
    struct Entry
    {
        FileStamp stamp;
        QByteArray sha256;
        qint64 lastRun = 0; // the run that last found or learnt it
        qint64 order = 0;   // higher is newer, among entries of one run
    };
    [[nodiscard]] bool inUse(const QString &file, const Entry &entry) const;

    QString path;
    qint64 settleNs;
    QHash<QString, Entry> entries;
    qint64 nextOrder = 0;
    qint64 run = 1;
};

} // namespace upgrade

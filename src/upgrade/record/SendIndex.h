#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

namespace upgrade {

struct RunRecord;

// Who an instrument is, for the history: manufacturer, model and serial of
// its *IDN? reply (the firmware field changes with an upgrade); the address
// when the serial is empty.
[[nodiscard]] QString InstrumentKey(const QString &identityReply, const QString &address);

// An instrument's model, for what holds for every instrument of it:
// manufacturer and model of its *IDN? reply.
[[nodiscard]] QString ModelKey(const QString &identityReply);

struct VerifiedSend
{
    QByteArray sha256Hex; // lower-case
    qint64 size = 0;
    QDateTime runStarted; // UTC: the run that sent and verified it
};

// Which history file the index was brought up to date with: the file's
// identity and its size then. A history that has grown or been replaced
// since (a writer that does not keep the index, a write that could not
// update it) no longer matches, and the index is rebuilt.
struct HistoryStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;

    bool operator==(const HistoryStamp &) const = default;
    // Nothing when the system can't say.
    [[nodiscard]] static std::optional<HistoryStamp> of(int fd);
};

// The last verified send of each instrument path to each instrument, so that
// it is found without reading the whole history. It lies beside the history
// ("<history>.index") and is never rotated: its entries keep the latest send
// whatever file of the history holds it. A send that may have written a path
// without being verified (failed, not verifiable) takes that path's entry
// out: what the instrument holds there is no longer known.
//
// The index only ever saves reading the history. A missing, stale, damaged or
// oversized index is rebuilt from every history file, rotated ones included;
// one that can't be written is rebuilt the next time.
class SendIndex
{
public:
    // Entries beyond this many go, those of the oldest runs first: an entry
    // let go only costs sending that file again.
    static constexpr qsizetype MaxEntries = 200000;
    // An index file bigger than this is not read; it is rebuilt.
    static constexpr qint64 MaxFileBytes = qint64(64) * 1024 * 1024;

    // The index lies beside `historyFile`; `keptFiles` rotated files of it
    // are read when it is rebuilt.
    explicit SendIndex(QString historyFile, int keptFiles = 4);
    // "<history>.index".
    [[nodiscard]] static QString IndexFileFor(const QString &historyFile);

    // The last verified send of `instrumentPath` to that instrument; nothing
    // when none. The first call reads the index (rebuilding it when it must).
    [[nodiscard]] std::optional<VerifiedSend> lastVerified(const QString &instrumentKey,
                                                          const QString &instrumentPath) const;
    // Every path with a verified send to that instrument.
    [[nodiscard]] QHash<QString, VerifiedSend> sendsTo(const QString &instrumentKey) const;
    // The FTP sessions the model's server took in the last run that chose
    // their number itself (--sessions auto); nothing when none is on record.
    [[nodiscard]] std::optional<int> sessionsFor(const QString &modelKey) const;
    // Why the index could not be used as it was, or why the history could
    // not be read for it; empty when it was sound. Set by the first lookup.
    [[nodiscard]] QString problem() const { return trouble; }

    // Brings the index up to date with `record`, just appended to the
    // history open (and exclusively locked) at `historyFd`, which was
    // `before` ahead of the write. Called under that lock only.
    void appended(const RunRecord &record, int historyFd, const HistoryStamp &before) const;

    [[nodiscard]] QString fileName() const { return indexPath; }

private:
    using Entries = QHash<QString, QHash<QString, VerifiedSend>>; // key -> path -> send

    void ensureLoaded() const;
    // Reads the index file when it matches `current` (or, right after a
    // rotation, the file rotated away); else why not.
    [[nodiscard]] std::optional<QString> readFile(const HistoryStamp &current) const;
    // Every history file from the oldest; the current one through `historyFd`.
    [[nodiscard]] std::optional<QString> rebuild(int historyFd) const;
    void apply(const RunRecord &record) const;
    // A record of --sessions auto: its number kept for the model.
    [[nodiscard]] static std::optional<std::pair<QString, VerifiedSend>> sessionsOf(const RunRecord &record);
    // Whether the history was empty, and never rotated, before the record
    // just written, with no index beside it.
    [[nodiscard]] bool firstRecord(const HistoryStamp &before) const;
    void save(const HistoryStamp &stamp) const;

    QString historyPath;
    QString indexPath;
    int keptFiles;
    mutable bool loaded = false;
    mutable Entries entries;
    mutable QString trouble;
};

} // namespace upgrade

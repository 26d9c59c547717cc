#include "upgrade/record/SendIndex.h"

#include "instrument/InstrumentIdentity.h"
#include "upgrade/record/HistoryFile.h"
#include "upgrade/record/HistoryReader.h"
#include "upgrade/record/RunRecord.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

#include <sys/stat.h>

namespace upgrade {
namespace {

// "vxupgrade-send-index 2 <device> <inode> <size> <entries>": the history
// file the entries were taken from, its size then, and how many entry lines
// follow (an index cut at a line's end would otherwise read as whole). An
// index of the first form, without the count, is rebuilt.
const QByteArray Magic = QByteArrayLiteral("vxupgrade-send-index");
constexpr qsizetype MaxLineBytes = 16 * 1024;
// The sessions a model takes ride in an ordinary entry, so that the file
// keeps its form: under the model's key (one comma, where every
// instrument's key has two) and a "path" no instrument file has; the size
// field holds the number, the digest is zeros.
const QString SessionsPath = QStringLiteral("sessions");
const QByteArray NoDigest(64, '0');

bool isSha256Hex(const QByteArray &text)
{
    return text.size() == 64
           && std::all_of(text.cbegin(), text.cend(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

HistoryStamp stampOf(const struct stat &st)
{
    return HistoryStamp{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size)};
}

std::optional<HistoryStamp> stampAt(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

struct IndexHeader
{
    HistoryStamp stamp;
    qsizetype entries = 0;
};

std::optional<IndexHeader> parseHeader(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 6 || fields[0] != Magic || fields[1] != "2")
        return std::nullopt;
    bool ok[4] = {};
    const IndexHeader header{
        HistoryStamp{fields[2].toULongLong(&ok[0]), fields[3].toULongLong(&ok[1]), fields[4].toLongLong(&ok[2])},
        fields[5].toLongLong(&ok[3])};
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || header.stamp.size < 0 || header.entries < 0)
        return std::nullopt;
    return header;
}

// "<run started, ms since 1970>\t<size>\t<sha256>\t<key>\t<path>", key and
// path percent-encoded (an identity is the instrument's to choose).
bool parseEntry(const QByteArray &line, QString &key, QString &path, VerifiedSend &send)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 5)
        return false;
    bool timeOk = false;
    bool sizeOk = false;
    const qint64 started = fields[0].toLongLong(&timeOk);
    send.size = fields[1].toLongLong(&sizeOk);
    send.sha256Hex = fields[2];
    key = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[3]));
    path = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[4]));
    send.runStarted = QDateTime::fromMSecsSinceEpoch(started, Qt::UTC);
    return timeOk && sizeOk && send.size >= 0 && isSha256Hex(send.sha256Hex) && !key.isEmpty() && !path.isEmpty()
           && send.runStarted.isValid();
}

} // namespace

QString InstrumentKey(const QString &identityReply, const QString &address)
{
    const InstrumentIdentity identity = InstrumentIdentity::FromReply(identityReply.toUtf8());
    // A serial holds no comma (the reply's fields are split at commas), so
    // the address that stands in for a missing one follows an empty field:
    // no instrument's serial can be taken for it.
    const QString who = identity.serial.isEmpty() ? u',' + address : identity.serial;
    return identity.manufacturer + u',' + identity.model + u',' + who;
}

QString ModelKey(const QString &identityReply)
{
    const InstrumentIdentity identity = InstrumentIdentity::FromReply(identityReply.toUtf8());
    return identity.manufacturer + u',' + identity.model;
}

std::optional<HistoryStamp> HistoryStamp::of(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

SendIndex::SendIndex(QString historyFile, int keptFiles)
    : historyPath(std::move(historyFile))
    , indexPath(IndexFileFor(historyPath))
    , keptFiles(keptFiles)
{
}

QString SendIndex::IndexFileFor(const QString &historyFile)
{
    return historyFile + QStringLiteral(".index");
}

std::optional<VerifiedSend> SendIndex::lastVerified(const QString &instrumentKey, const QString &instrumentPath) const
{
    ensureLoaded();
    const auto instrument = entries.constFind(instrumentKey);
    if (instrument == entries.cend())
        return std::nullopt;
    const auto send = instrument->constFind(instrumentPath);
    if (send == instrument->cend())
        return std::nullopt;
    return *send;
}

QHash<QString, VerifiedSend> SendIndex::sendsTo(const QString &instrumentKey) const
{
    ensureLoaded();
    return entries.value(instrumentKey);
}

std::optional<int> SendIndex::sessionsFor(const QString &modelKey) const
{
    const std::optional<VerifiedSend> kept = lastVerified(modelKey, SessionsPath);
    if (!kept || kept->size < 1)
        return std::nullopt;
    return int(std::min<qint64>(kept->size, 64));
}

std::optional<std::pair<QString, VerifiedSend>> SendIndex::sessionsOf(const RunRecord &record)
{
    if (!record.sessionsAuto || record.sessions < 1)
        return std::nullopt;
    return std::pair{ModelKey(record.identity), VerifiedSend{NoDigest, record.sessions, record.started}};
}

void SendIndex::ensureLoaded() const
{
    if (loaded)
        return;
    loaded = true;
    entries.clear();
    // The shared lock holds off every append (and rotation) while the index
    // is read or rebuilt: it can't miss a record written meanwhile.
    HistoryFile history;
    if (const std::optional<QString> why = history.open(historyPath, HistoryFile::Mode::Read)) {
        trouble = QStringLiteral("Can't read the history %1: %2").arg(historyPath, *why);
        return;
    }
    if (!history.isOpen())
        return; // no history, no sends
    const std::optional<HistoryStamp> current = HistoryStamp::of(history.descriptor());
    if (!current) {
        trouble = QStringLiteral("Can't read the history %1").arg(historyPath);
        return;
    }
    if (const std::optional<QString> why = readFile(*current)) {
        // A missing index beside an empty history is only a first use;
        // anything else is worth a line.
        if (QFile::exists(indexPath) || current->size > 0)
            trouble = *why;
        if (const std::optional<QString> unreadable = rebuild(history.descriptor())) {
            trouble = *unreadable;
            entries.clear();
            return;
        }
        save(*current);
    }
}

std::optional<QString> SendIndex::readFile(const HistoryStamp &current) const
{
    entries.clear();
    QFile file(indexPath);
    if (!file.exists())
        return QStringLiteral("The send index %1 is missing; rebuilt from the history.").arg(indexPath);
    const auto damaged = [this](const QString &why) {
        entries.clear();
        return std::optional(QStringLiteral("The send index %1 %2; rebuilt from the history.").arg(indexPath, why));
    };
    if (!file.open(QIODevice::ReadOnly))
        return damaged(QStringLiteral("can't be read (%1)").arg(file.errorString()));
    if (file.size() > MaxFileBytes)
        return damaged(QStringLiteral("is too large"));
    const std::optional<IndexHeader> header = parseHeader(file.readLine(MaxLineBytes).trimmed());
    if (!header)
        return damaged(QStringLiteral("is not an index"));
    const std::optional<HistoryStamp> stamp = header->stamp;
    // Right after a rotation the current file is new and empty; the index
    // was brought up to date with the file just rotated away.
    const bool rotatedAway = current.size == 0 && stamp == stampAt(RotatedHistoryFile(historyPath, 1));
    if (*stamp != current && !rotatedAway)
        return damaged(QStringLiteral("is behind the history"));
    qsizetype count = 0;
    for (int lineNumber = 2; !file.atEnd(); ++lineNumber) {
        const QByteArray line = file.readLine(MaxLineBytes);
        QString key;
        QString path;
        VerifiedSend send;
        // A line cut short or not understood may hide an entry taken out: the
        // rest can't be trusted, so none of it is.
        if (!line.endsWith('\n') || !parseEntry(line.chopped(1), key, path, send))
            return damaged(QStringLiteral("is damaged at line %1").arg(lineNumber));
        if (++count > MaxEntries)
            return damaged(QStringLiteral("holds too many entries"));
        entries[key].insert(path, send);
    }
    if (count != header->entries)
        return damaged(QStringLiteral("holds %1 of its %2 entries").arg(count).arg(header->entries));
    return std::nullopt;
}

std::optional<QString> SendIndex::rebuild(int historyFd) const
{
    entries.clear();
    // Newest record first: the first word on a path is the last send to it.
    // The caller holds the current file locked, through `historyFd`.
    QSet<QPair<QString, QString>> decided;
    const HistoryVisit visited = HistoryReader(historyPath, keptFiles).visit(
        [&](RunRecord &&record) {
            const QString key = InstrumentKey(record.identity, record.address);
            if (const auto sessions = sessionsOf(record); sessions && !decided.contains({sessions->first, SessionsPath})) {
                decided.insert({sessions->first, SessionsPath});
                entries[sessions->first].insert(SessionsPath, sessions->second);
            }
            for (const RecordedFile &file : std::as_const(record.files)) {
                if (file.outcome == FileOutcome::NotSent || file.outcome == FileOutcome::AlreadyThere)
                    continue;
                if (decided.contains({key, file.instrumentPath}))
                    continue;
                decided.insert({key, file.instrumentPath});
                if (file.outcome == FileOutcome::SentVerified && isSha256Hex(file.sha256))
                    entries[key].insert(file.instrumentPath, VerifiedSend{file.sha256, file.size, record.started});
            }
            return true;
        },
        historyFd);
    return visited.error;
}

void SendIndex::apply(const RunRecord &record) const
{
    const QString key = InstrumentKey(record.identity, record.address);
    if (const auto sessions = sessionsOf(record))
        entries[sessions->first].insert(SessionsPath, sessions->second);
    for (const RecordedFile &file : record.files) {
        switch (file.outcome) {
        case FileOutcome::SentVerified:
            if (isSha256Hex(file.sha256)) {
                entries[key].insert(file.instrumentPath, VerifiedSend{file.sha256, file.size, record.started});
                break;
            }
            [[fallthrough]];
        case FileOutcome::SentNotVerifiable:
        case FileOutcome::Failed:
            // Written, perhaps in part, with nothing to say what: unknown now.
            if (const auto instrument = entries.find(key); instrument != entries.end())
                instrument->remove(file.instrumentPath);
            break;
        case FileOutcome::NotSent:
        case FileOutcome::AlreadyThere:
            break;
        }
    }
    // A file removed from the instrument is no longer there to vouch for.
    for (const RecordedFile &file : record.deleted) {
        if (const auto instrument = entries.find(key); instrument != entries.end())
            instrument->remove(file.instrumentPath);
    }
}

void SendIndex::appended(const RunRecord &record, int historyFd, const HistoryStamp &before) const
{
    const std::optional<HistoryStamp> after = HistoryStamp::of(historyFd);
    if (!after)
        return; // the stamp left in the index no longer matches: rebuilt next time
    if (!readFile(before)) {
        apply(record);
    } else if (firstRecord(before)) {
        // Nothing to rebuild from but the record itself, which need not be
        // read back as a whole document.
        entries.clear();
        apply(record);
    } else if (rebuild(historyFd)) { // the record just written is read with the rest
        return;
    }
    loaded = true;
    save(*after);
}

bool SendIndex::firstRecord(const HistoryStamp &before) const
{
    if (before.size != 0 || QFile::exists(indexPath))
        return false;
    for (int age = 1; age <= keptFiles; ++age) {
        if (QFile::exists(RotatedHistoryFile(historyPath, age)))
            return false;
    }
    return true;
}

void SendIndex::save(const HistoryStamp &stamp) const
{
    QList<std::pair<QDateTime, std::pair<QString, QString>>> order;
    for (auto instrument = entries.cbegin(); instrument != entries.cend(); ++instrument) {
        for (auto send = instrument->cbegin(); send != instrument->cend(); ++send)
            order.append({send->runStarted, {instrument.key(), send.key()}});
    }
    // Newest first; those past the bound go.
    std::sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    if (order.size() > MaxEntries) {
        for (qsizetype i = MaxEntries; i < order.size(); ++i)
            entries[order[i].second.first].remove(order[i].second.second);
        order.resize(MaxEntries);
    }
    const auto lineOf = [this](const QDateTime &started, const std::pair<QString, QString> &where) {
        const VerifiedSend &send = entries[where.first][where.second];
        return QByteArray::number(started.toMSecsSinceEpoch()) + '\t' + QByteArray::number(send.size) + '\t'
               + send.sha256Hex + '\t' + where.first.toUtf8().toPercentEncoding() + '\t'
               + where.second.toUtf8().toPercentEncoding() + '\n';
    };
    // An absurd path is left out (that file is sent again); the header
    // counts the lines that follow it, so they are counted first and then
    // written a piece at a time, never held whole (megabytes for a kit of
    // many thousand files).
    qsizetype written = 0;
    for (const auto &[started, where] : std::as_const(order))
        written += lineOf(started, where).size() <= MaxLineBytes ? 1 : 0;
    const QByteArray header = Magic + " 2 " + QByteArray::number(stamp.device) + ' ' + QByteArray::number(stamp.inode)
                              + ' ' + QByteArray::number(stamp.size) + ' ' + QByteArray::number(written) + '\n';
    // Replaced at once: a reader finds the old index or the new one. One that
    // can't be written keeps its old stamp and is rebuilt when next read.
    QSaveFile file(indexPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(header) != header.size())
        return;
    for (const auto &[started, where] : std::as_const(order)) {
        const QByteArray line = lineOf(started, where);
        if (line.size() <= MaxLineBytes && file.write(line) != line.size())
            return;
    }
    static_cast<void>(file.commit());
}

} // namespace upgrade

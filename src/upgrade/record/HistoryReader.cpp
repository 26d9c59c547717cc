#include "upgrade/record/HistoryReader.h"

#include "platform/Sockets.h"
#include "upgrade/record/BackwardLineReader.h"
#include "upgrade/record/HistoryFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

namespace upgrade {

QString PlainHistoryAddress(const QString &address)
{
    return platform::sock::CanonicalAddress(address).value_or(address);
}

namespace {

// False only for a line that is surely another instrument's record, so that
// a long history is not parsed whole for the runs of one instrument. In JSON
// text a quote inside a string is escaped, so `"address":"` is a key; with
// no "{" or "[" before it, it is the record's own. Any other layout, or an
// escape in the value, is left to the parser.
bool mayHoldAddress(const QByteArray &line, const QString &wanted)
{
    static constexpr char key[] = "\"address\":\"";
    constexpr qsizetype keySize = sizeof key - 1;
    // glibc's memmem; QByteArray::indexOf compares a byte at a time.
    const void *found = ::memmem(line.constData(), size_t(line.size()), key, size_t(keySize));
    if (!found)
        return true;
    const qsizetype at = static_cast<const char *>(found) - line.constData();
    const QByteArrayView before = QByteArrayView(line).first(at);
    if (!before.startsWith('{') || before.sliced(1).contains('{') || before.contains('['))
        return true;
    const qsizetype start = at + keySize;
    const qsizetype end = line.indexOf('"', start);
    if (end < 0)
        return true;
    const QByteArrayView value = QByteArrayView(line).sliced(start, end - start);
    if (value.contains('\\'))
        return true;
    return PlainHistoryAddress(QString::fromUtf8(value)) == wanted;
}

// The closing quote of the string whose text begins at `from`, or `size`.
qsizetype stringEnd(const char *data, qsizetype size, qsizetype from)
{
    while (from < size) {
        const void *quote = std::memchr(data + from, '"', size_t(size - from));
        if (!quote)
            return size;
        const qsizetype at = static_cast<const char *>(quote) - data;
        qsizetype backslashes = 0;
        while (at - backslashes > from && data[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return at;
        from = at + 1;
    }
    return size;
}

// Where the record's "files" array lies in the line, [first, last): the
// array of the key "files" of the outermost object, matched to its end
// outside strings. Nothing when there is none.
std::optional<std::pair<qsizetype, qsizetype>> filesArrayIn(const QByteArray &line)
{
    static const QByteArray key = QByteArrayLiteral("\"files\":[");
    const char *const data = line.constData();
    const qsizetype size = line.size();
    int depth = 0;
    qsizetype first = -1;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"') {
            // At the outermost level a string followed by ":" is a key.
            if (depth == 1 && first < 0 && size - i >= key.size()
                && std::memcmp(data + i, key.constData(), size_t(key.size())) == 0) {
                first = i + key.size() - 1;
                i = first;
                ++depth;
                continue;
            }
            i = stringEnd(data, size, i + 1);
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if ((c == ']' || c == '}') && --depth == 1 && first >= 0) {
            return std::pair{first, i + 1};
        }
    }
    return std::nullopt;
}

// The line's record, its files left in `filesJson` when asked and the line
// allows; nothing when the line is no record.
std::optional<VisitedRecord> recordOf(const QByteArray &line, bool filesOnDemand)
{
    if (filesOnDemand) {
        if (const auto files = filesArrayIn(line)) {
            QByteArray rest = line;
            rest.replace(files->first, files->second - files->first, "[]");
            const QJsonDocument document = QJsonDocument::fromJson(rest);
            // Anything else than the record's own files array cut out, and
            // the whole line is read after all.
            if (document.isObject() && document.object().value("files").toArray().isEmpty()) {
                if (std::optional<RunRecord> record = RunRecord::fromJson(document.object()))
                    return VisitedRecord{std::move(*record), line.mid(files->first, files->second - files->first)};
            }
        }
    }
    const QJsonDocument document = QJsonDocument::fromJson(line);
    std::optional<RunRecord> record = document.isObject() ? RunRecord::fromJson(document.object()) : std::nullopt;
    if (!record)
        return std::nullopt;
    return VisitedRecord{std::move(*record), {}};
}

} // namespace

HistoryReader::HistoryReader(QString file, int keptFiles)
    : path(std::move(file))
    , keptFiles(keptFiles)
{
}

HistoryVisit HistoryReader::walk(bool filesOnDemand, const QString &wantedAddress,
                                 const std::function<bool(VisitedRecord &&)> &take, int heldFd) const
{
    HistoryVisit visit;
    auto failed = [&visit](const QString &file, const QString &why) {
        visit.error = QStringLiteral("Can't read the history %1: %2").arg(file, why);
        return visit;
    };
    // The shared lock on the current file holds off every rotation (which
    // happens under its exclusive lock) until this read ends: no file is
    // read twice or missed.
    HistoryFile current;
    int currentFd = heldFd;
    if (heldFd < 0) {
        if (const std::optional<QString> why = current.open(path, HistoryFile::Mode::Read))
            return failed(path, *why);
        currentFd = current.descriptor();
    }

    bool more = true;
    for (int age = 0; age <= keptFiles && more; ++age) {
        const QString name = RotatedHistoryFile(path, age);
        QFile older(name);
        if (age > 0 && !older.exists())
            continue;
        if (age > 0 && !older.open(QIODevice::ReadOnly))
            return failed(name, older.errorString());
        if (age == 0 && currentFd < 0)
            continue;
        BackwardLineReader lines(age == 0 ? currentFd : older.handle());
        QByteArray line;
        bool overlong = false;
        while (more && lines.previous(line, overlong)) {
            line = line.trimmed();
            if (line.isEmpty() && !overlong)
                continue;
            if (!wantedAddress.isEmpty() && !mayHoldAddress(line, wantedAddress))
                continue;
            std::optional<VisitedRecord> record = recordOf(line, filesOnDemand);
            if (!record) {
                ++visit.unreadableLines;
                continue;
            }
            ++visit.records;
            more = take(std::move(*record));
        }
        if (lines.error())
            return failed(name, *lines.error());
    }
    return visit;
}

HistoryVisit HistoryReader::visit(const std::function<bool(RunRecord &&)> &take, int heldFd) const
{
    return walk(false, {}, [&take](VisitedRecord &&visited) { return take(std::move(visited.record)); }, heldFd);
}

} // namespace upgrade

#include "upgrade/RunHistory.h"

#include "platform/OutsideText.h"
#include "platform/Sockets.h"
#include "upgrade/BackwardLineReader.h"
#include "upgrade/HistoryOutcome.h"
#include "upgrade/HistoryWriter.h"
#include "upgrade/KitPreflight.h"
#include "upgrade/SendIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VX_TOOL_VERSION
#define VX_TOOL_VERSION "unknown"
#endif

namespace upgrade {
namespace {

constexpr int RecordFormat = 1;

QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

// The writer's own form, "2026-12-10T09:41:07.123Z", read directly: a long
// history holds two a record, and the general parser costs more than the
// rest of the record. Anything else goes to the general parser.
QDateTime parseTime(const QJsonValue &value)
{
    const QString text = value.toString();
    const auto number = [&text](qsizetype at, qsizetype digits) {
        int n = 0;
        for (qsizetype i = at; i < at + digits; ++i) {
            const char16_t c = text.at(i).unicode();
            if (c < u'0' || c > u'9')
                return -1;
            n = n * 10 + (c - u'0');
        }
        return n;
    };
    if (text.size() == 24 && text.at(4) == u'-' && text.at(7) == u'-' && text.at(10) == u'T' && text.at(13) == u':'
        && text.at(16) == u':' && text.at(19) == u'.' && text.at(23) == u'Z') {
        const QDate date(number(0, 4), number(5, 2), number(8, 2));
        const QTime time(number(11, 2), number(14, 2), number(17, 2), number(20, 3));
        if (date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

QString userName()
{
    if (const struct passwd *entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

} // namespace

QString AlreadyThereText(const QDateTime &verifiedOn)
{
    if (!verifiedOn.isValid())
        return QStringLiteral("already there (at the kit's size; no verified send on record)");
    return QStringLiteral("already there (verified on %1 UTC)")
        .arg(verifiedOn.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

RunRecord RunRecord::begin()
{
    RunRecord record;
    record.started = QDateTime::currentDateTimeUtc();
    record.toolVersion = QStringLiteral(VX_TOOL_VERSION);
    record.user = userName();
    record.host = QSysInfo::machineHostName();
    return record;
}

void RunRecord::takeModules(const ModuleList &catalogue)
{
    modules.clear();
    for (const auto &entry : catalogue)
        modules.append(RecordedModule{entry->id, entry->name, entry->hasSignal});
}

void RunRecord::takePlan(const KitPlan &plan)
{
    kitFolder = plan.kitFolder;
    files.clear();
    for (const PlannedFile &file : plan.files)
        addPlanned(file);
    kitDigest = plan.kitDigest();
}

void RunRecord::addPlanned(const PlannedFile &file)
{
    files.append(RecordedFile{file.instrumentPath, file.size, file.sha256.toHex(), FileOutcome::NotSent});
}

bool RunRecord::setOutcome(const QString &instrumentPath, FileOutcome outcome)
{
    for (RecordedFile &file : files) {
        if (file.instrumentPath == instrumentPath) {
            file.outcome = outcome;
            return true;
        }
    }
    return false;
}

bool RunRecord::setAlreadyThere(const QString &instrumentPath, const QDateTime &verifiedOn)
{
    for (RecordedFile &file : files) {
        if (file.instrumentPath == instrumentPath) {
            file.outcome = FileOutcome::AlreadyThere;
            file.verifiedOn = verifiedOn;
            return true;
        }
    }
    return false;
}

void RunRecord::finish(const QString &runOutcome, const QString &endStep, const QString &endMessage)
{
    ended = QDateTime::currentDateTimeUtc();
    seconds = started.isValid() ? double(started.msecsTo(ended)) / 1000.0 : 0.0;
    outcome = runOutcome;
    step = endStep;
    message = endMessage;
}

QJsonObject RunRecord::fileJson(const RecordedFile &file)
{
    // A file left on the instrument goes on record as not sent, with why:
    // readers that know no more outcomes than those still read it.
    const bool already = file.outcome == FileOutcome::AlreadyThere;
    QJsonObject entry{{"path", file.instrumentPath},
                      {"size", file.size},
                      {"sha256", QString::fromLatin1(file.sha256)},
                      {"outcome", FileOutcomeName(already ? FileOutcome::NotSent : file.outcome)}};
    if (already) {
        entry.insert(QStringLiteral("already"), AlreadyThereText(file.verifiedOn));
        entry.insert(QStringLiteral("verifiedOn"), isoTime(file.verifiedOn));
    }
    return entry;
}

QJsonObject RunRecord::headJson() const
{
    QJsonArray moduleArray;
    for (const RecordedModule &module : modules)
        moduleArray.append(QJsonObject{{"id", module.id}, {"name", module.name}, {"ticked", module.ticked}});
    QJsonObject object{
        {"record", RecordFormat},
        {"started", isoTime(started)},
        {"ended", isoTime(ended)},
        {"tool", toolVersion},
        {"user", user},
        {"host", host},
        {"address", address},
        {"identity", identity},
        {"kit", kitFolder},
        {"modules", moduleArray},
        {"free", freeSpace ? QJsonValue(double(*freeSpace)) : QJsonValue()},
        {"kitDigest", QString::fromLatin1(kitDigest)},
        {"outcome", outcome},
        {"step", step},
        {"message", message},
        {"bytes", double(bytes)},
        {"seconds", seconds},
        {"dryRun", dryRun},
        {"signerKey", QString::fromLatin1(signerKey)},
        {"signerComment", signerComment},
    };
    if (!note.isEmpty())
        object.insert("note", note);
    if (!childExit.isEmpty())
        object.insert(QStringLiteral("childExit"), childExit);
    if (!reboot.isEmpty())
        object.insert(QStringLiteral("reboot"), reboot);
    if (!audit.isEmpty())
        object.insert(QStringLiteral("audit"), audit);
    return object;
}

QJsonObject RunRecord::toJson() const
{
    QJsonArray fileArray;
    for (const RecordedFile &file : files)
        fileArray.append(fileJson(file));
    QJsonObject object = headJson();
    object.insert(QStringLiteral("files"), fileArray);
    return object;
}

QByteArray RunRecord::toJsonLine() const
{
    QByteArray line;
    static_cast<void>(writeJsonLine([&line](QByteArrayView piece) {
        line += piece;
        return true;
    }));
    return line;
}

bool RunRecord::writeJsonLine(const JsonSink &sink) const
{
    // The text QJsonDocument gives for the whole record, made piece by
    // piece: an object's keys come out in their sorted order, so the head's
    // keys are split around "files", and each file is one small document.
    // Each piece holds whole values, so its controls are escaped on its own.
    const QString filesKey = QStringLiteral("files");
    const QJsonObject head = headJson();
    QJsonObject before;
    QJsonObject after;
    for (auto it = head.constBegin(); it != head.constEnd(); ++it)
        (it.key() < filesKey ? before : after).insert(it.key(), it.value());
    const auto members = [](const QJsonObject &object) {
        const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
        return text.mid(1, text.size() - 2); // without the braces
    };

    constexpr qsizetype PieceBytes = 64 * 1024;
    QByteArray piece = '{' + members(before);
    if (!before.isEmpty())
        piece += ',';
    piece += "\"files\":[";
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i > 0)
            piece += ',';
        piece += QJsonDocument(fileJson(files[i])).toJson(QJsonDocument::Compact);
        if (piece.size() >= PieceBytes) {
            if (!sink(platform::JsonWithoutControls(piece)))
                return false;
            piece.clear();
        }
    }
    piece += ']';
    if (!after.isEmpty())
        piece += ',' + members(after);
    piece += '}';
    return sink(platform::JsonWithoutControls(piece));
}

std::optional<RunRecord> RunRecord::fromJson(const QJsonObject &o)
{
    if (o.value("record").toInt() != RecordFormat || !o.value("files").isArray())
        return std::nullopt;
    RunRecord r;
    r.started = parseTime(o.value("started"));
    r.ended = parseTime(o.value("ended"));
    r.toolVersion = o.value("tool").toString();
    r.user = o.value("user").toString();
    r.host = o.value("host").toString();
    r.address = o.value("address").toString();
    r.identity = o.value("identity").toString();
    r.kitFolder = o.value("kit").toString();
    for (const QJsonValue &value : o.value("modules").toArray()) {
        const QJsonObject m = value.toObject();
        r.modules.append(RecordedModule{m.value("id").toInt(), m.value("name").toString(), m.value("ticked").toBool()});
    }
    if (o.value("free").isDouble())
        r.freeSpace = qint64(o.value("free").toDouble());
    std::optional<QList<RecordedFile>> files = filesFromJson(o.value("files").toArray());
    if (!files)
        return std::nullopt;
    r.files = std::move(*files);
    r.kitDigest = o.value("kitDigest").toString().toLatin1();
    r.outcome = o.value("outcome").toString();
    r.step = o.value("step").toString();
    r.message = o.value("message").toString();
    r.note = o.value("note").toString();
    r.bytes = qint64(o.value("bytes").toDouble());
    r.seconds = o.value("seconds").toDouble();
    r.dryRun = o.value("dryRun").toBool();
    r.childExit = o.value("childExit").toString();
    r.signerKey = o.value("signerKey").toString().toLatin1();
    r.signerComment = o.value("signerComment").toString();
    r.reboot = o.value("reboot").toString();
    r.audit = o.value("audit").toObject();
    return r;
}

std::optional<QList<RecordedFile>> RunRecord::filesFromJson(const QJsonArray &array)
{
    QList<RecordedFile> files;
    files.reserve(array.size());
    for (const QJsonValue &value : array) {
        const QJsonObject f = value.toObject();
        const std::optional<FileOutcome> outcome = FileOutcomeNamed(f.value("outcome").toString());
        if (!outcome)
            return std::nullopt;
        RecordedFile file{f.value("path").toString(), qint64(f.value("size").toDouble()),
                          f.value("sha256").toString().toLatin1(), *outcome, QDateTime()};
        if (*outcome == FileOutcome::NotSent && f.contains(QStringLiteral("already"))) {
            file.outcome = FileOutcome::AlreadyThere;
            file.verifiedOn = parseTime(f.value("verifiedOn"));
        }
        files.append(file);
    }
    return files;
}

QList<RecordedFile> VisitedRecord::files() const
{
    if (filesJson.isEmpty())
        return record.files;
    return RunRecord::filesFromJson(QJsonDocument::fromJson(filesJson).array()).value_or(QList<RecordedFile>());
}

QString RunHistory::StateFolder(const QProcessEnvironment &environment)
{
    // XDG's base directory rules ignore a relative XDG_STATE_HOME.
    QString base = environment.value(QStringLiteral("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vxupgrade");
}

QString RunHistory::DefaultFile(const QProcessEnvironment &environment)
{
    return StateFolder(environment) + QStringLiteral("/history.jsonl");
}

RunHistory::RunHistory(QString file, HistoryLimits limits)
    : path(std::move(file))
    , limits(limits)
{
}

std::optional<QString> RunHistory::append(const RunRecord &record) const
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("History not written: can't make the folder %1").arg(folder);
    // The index of verified sends follows every record, under the same lock.
    const SendIndex index(path, limits.keptFiles);
    const auto updateIndex = [&index, &record](int fd, const struct stat &before) {
        index.appended(record, fd, HistoryStamp{quint64(before.st_dev), quint64(before.st_ino), qint64(before.st_size)});
    };
    if (const std::optional<QString> why = HistoryWriter(path, limits).append(
            [&record](const HistoryWriter::Sink &sink) { return record.writeJsonLine(sink); }, updateIndex))
        return QStringLiteral("History not written to %1: %2").arg(path, *why);
    return std::nullopt;
}

namespace {

// Records keep the plain form; older ones kept what was typed, and any
// spelling of an address asks for every one of them.
QString plainAddress(const QString &address)
{
    return platform::sock::CanonicalAddress(address).value_or(address);
}

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
    return plainAddress(QString::fromUtf8(value)) == wanted;
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

RunHistory::Visit RunHistory::visit(const std::function<bool(RunRecord &&)> &take) const
{
    return walk(false, {}, [&take](VisitedRecord &&visited) { return take(std::move(visited.record)); });
}

RunHistory::Visit RunHistory::visitFilesOnDemand(const std::function<bool(VisitedRecord &&)> &take) const
{
    return walk(true, {}, take);
}

RunHistory::Visit RunHistory::walk(bool filesOnDemand, const QString &wantedAddress,
                                   const std::function<bool(VisitedRecord &&)> &take) const
{
    Visit visit;
    auto failed = [&visit](const QString &file, const QString &why) {
        visit.error = QStringLiteral("Can't read the history %1: %2").arg(file, why);
        return visit;
    };
    // The shared lock on the current file holds off every rotation (which
    // happens under its exclusive lock) until this read ends: no file is
    // read twice or missed.
    HistoryFile current;
    if (const std::optional<QString> why = current.open(path, HistoryFile::Mode::Read))
        return failed(path, *why);

    bool more = true;
    for (int age = 0; age <= limits.keptFiles && more; ++age) {
        const QString name = RotatedHistoryFile(path, age);
        QFile older(name);
        if (age > 0 && !older.exists())
            continue;
        if (age > 0 && !older.open(QIODevice::ReadOnly))
            return failed(name, older.errorString());
        if (age == 0 && !current.isOpen())
            continue;
        BackwardLineReader lines(age == 0 ? current.descriptor() : older.handle());
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

RunHistory::Reading RunHistory::read(const QString &address, int last) const
{
    // Records keep the plain form, older ones what was typed: any spelling
    // of an address asks for all of them.
    const QString wanted = address.isEmpty() ? QString() : plainAddress(address);
    QList<RunRecord> newestFirst;
    const Visit visited = walk(false, wanted, [&](VisitedRecord &&visited) {
        if (wanted.isEmpty() || plainAddress(visited.record.address) == wanted)
            newestFirst.append(std::move(visited.record));
        return last <= 0 || newestFirst.size() < last;
    });
    Reading reading;
    reading.unreadableLines = visited.unreadableLines;
    reading.error = visited.error;
    if (!reading.error)
        reading.records = QList<RunRecord>(newestFirst.crbegin(), newestFirst.crend());
    return reading;
}

QStringList FormatHistoryTable(const QList<RunRecord> &records)
{
    QList<QStringList> rows{{"TIME (UTC)", "INSTRUMENT", "IDENTITY", "KIT", "OUTCOME", "FILES", "DURATION"}};
    for (const RunRecord &r : records) {
        const auto sent = std::count_if(r.files.cbegin(), r.files.cend(), [](const RecordedFile &f) {
            return f.outcome == FileOutcome::SentVerified || f.outcome == FileOutcome::SentNotVerifiable;
        });
        QString identity = r.identity.simplified();
        if (identity.size() > 40)
            identity = identity.left(39) + QChar(0x2026);
        rows.append({r.started.isValid() ? r.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : "-",
                     r.address.isEmpty() ? "-" : r.address,
                     identity.isEmpty() ? "-" : identity,
                     r.kitDigest.isEmpty() ? "-" : QString::fromLatin1(r.kitDigest.left(12)),
                     HistoryOutcomeText(r),
                     QStringLiteral("%1/%2").arg(sent).arg(r.files.size()),
                     QString::number(r.seconds, 'f', 1) + " s"});
    }
    // Every field was written by some run, on some host, from what an
    // instrument answered: none may steer the terminal.
    for (QStringList &row : rows) {
        for (QString &cell : row)
            cell = platform::PrintableText(cell);
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QStringList lines;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        lines.append(line);
    }
    return lines;
}

} // namespace upgrade

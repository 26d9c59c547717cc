#include "upgrade/RunHistory.h"

#include "upgrade/BackwardLineReader.h"
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

QDateTime parseTime(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
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
            if (!sink(piece))
                return false;
            piece.clear();
        }
    }
    piece += ']';
    if (!after.isEmpty())
        piece += ',' + members(after);
    piece += '}';
    return sink(piece);
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
    for (const QJsonValue &value : o.value("files").toArray()) {
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
        r.files.append(file);
    }
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

RunHistory::Reading RunHistory::read(const QString &address, int last) const
{
    Reading reading;
    auto failed = [&reading](const QString &file, const QString &why) {
        reading.error = QStringLiteral("Can't read the history %1: %2").arg(file, why);
        reading.records.clear();
        return reading;
    };
    // The shared lock on the current file holds off every rotation (which
    // happens under its exclusive lock) until this read ends: no file is
    // read twice or missed.
    HistoryFile current;
    if (const std::optional<QString> why = current.open(path, HistoryFile::Mode::Read))
        return failed(path, *why);

    QList<RunRecord> newestFirst;
    const auto enough = [&] { return last > 0 && newestFirst.size() >= last; };
    for (int age = 0; age <= limits.keptFiles && !enough(); ++age) {
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
        while (!enough() && lines.previous(line, overlong)) {
            line = line.trimmed();
            if (line.isEmpty() && !overlong)
                continue;
            const QJsonDocument document = QJsonDocument::fromJson(line);
            const std::optional<RunRecord> record =
                document.isObject() ? RunRecord::fromJson(document.object()) : std::nullopt;
            if (!record)
                ++reading.unreadableLines;
            else if (address.isEmpty() || record->address == address)
                newestFirst.append(*record);
        }
        if (lines.error())
            return failed(name, *lines.error());
    }
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
                     r.dryRun ? r.outcome + " (dry run)" : !r.audit.isEmpty() ? r.outcome + " (audit)" : r.outcome,
                     QStringLiteral("%1/%2").arg(sent).arg(r.files.size()),
                     QString::number(r.seconds, 'f', 1) + " s"});
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

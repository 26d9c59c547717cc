#include "upgrade/record/RunRecord.h"

#include "platform/OutsideText.h"
#include "upgrade/kit/KitPreflight.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <algorithm>

#include <pwd.h>
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

// The files a run removed: what each held when last verified there.
QJsonArray removedFiles(const QList<RecordedFile> &files)
{
    QJsonArray array;
    for (const RecordedFile &file : files)
        array.append(QJsonObject{
            {recordfield::file::Path, file.instrumentPath},
            {recordfield::file::Size, file.size},
            {recordfield::file::Sha256, QString::fromLatin1(file.sha256)}});
    return array;
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

namespace {

void insertSessions(QJsonObject &object, int sessions, bool automatic)
{
    if (sessions > 0)
        object.insert(recordfield::Sessions, sessions);
    if (automatic)
        object.insert(recordfield::SessionsAuto, true);
}

} // namespace

QJsonObject RunRecord::fileJson(const RecordedFile &file)
{
    // A file left on the instrument goes on record as not sent, with why:
    // readers that know no more outcomes than those still read it.
    const bool already = file.outcome == FileOutcome::AlreadyThere;
    QJsonObject entry{{recordfield::file::Path, file.instrumentPath},
                      {recordfield::file::Size, file.size},
                      {recordfield::file::Sha256, QString::fromLatin1(file.sha256)},
                      {recordfield::file::Outcome, FileOutcomeName(already ? FileOutcome::NotSent : file.outcome)}};
    if (already) {
        entry.insert(recordfield::file::Already, AlreadyThereText(file.verifiedOn));
        entry.insert(recordfield::file::VerifiedOn, isoTime(file.verifiedOn));
    }
    return entry;
}

QJsonObject RunRecord::headJson() const
{
    QJsonArray moduleArray;
    for (const RecordedModule &module : modules)
        moduleArray.append(QJsonObject{{recordfield::module::Id, module.id},
                                       {recordfield::module::Name, module.name},
                                       {recordfield::module::Ticked, module.ticked}});
    QJsonObject object{
        {recordfield::Record, RecordFormat},
        {recordfield::Started, isoTime(started)},
        {recordfield::Ended, isoTime(ended)},
        {recordfield::Tool, toolVersion},
        {recordfield::User, user},
        {recordfield::Host, host},
        {recordfield::Address, address},
        {recordfield::Identity, identity},
        {recordfield::Kit, kitFolder},
        {recordfield::Modules, moduleArray},
        {recordfield::Free, freeSpace ? QJsonValue(double(*freeSpace)) : QJsonValue()},
        {recordfield::KitDigest, QString::fromLatin1(kitDigest)},
        {recordfield::Outcome, outcome},
        {recordfield::Step, step},
        {recordfield::Message, message},
        {recordfield::Bytes, double(bytes)},
        {recordfield::Seconds, seconds},
        {recordfield::DryRun, dryRun},
        {recordfield::SignerKey, QString::fromLatin1(signerKey)},
        {recordfield::SignerComment, signerComment},
    };
    if (!note.isEmpty())
        object.insert(recordfield::Note, note);
    if (!childExit.isEmpty())
        object.insert(recordfield::ChildExit, childExit);
    if (!reboot.isEmpty())
        object.insert(recordfield::Reboot, reboot);
    if (!audit.isEmpty())
        object.insert(recordfield::Audit, audit);
    if (!snapshot.isEmpty())
        object.insert(recordfield::Snapshot, snapshot);
    if (!restoredFrom.isEmpty())
        object.insert(recordfield::Restore, restoredFrom);
    if (!deleted.isEmpty())
        object.insert(recordfield::Deleted, removedFiles(deleted));
    insertSessions(object, sessions, sessionsAuto);
    return object;
}

QJsonObject RunRecord::toJson() const
{
    QJsonArray fileArray;
    for (const RecordedFile &file : files)
        fileArray.append(fileJson(file));
    QJsonObject object = headJson();
    object.insert(recordfield::Files, fileArray);
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
    const QJsonObject head = headJson();
    QJsonObject before;
    QJsonObject after;
    for (auto it = head.constBegin(); it != head.constEnd(); ++it)
        (it.key() < recordfield::Files ? before : after).insert(it.key(), it.value());
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
    if (o.value(recordfield::Record).toInt() != RecordFormat || !o.value(recordfield::Files).isArray())
        return std::nullopt;
    RunRecord r;
    r.started = parseTime(o.value(recordfield::Started));
    r.ended = parseTime(o.value(recordfield::Ended));
    r.toolVersion = o.value(recordfield::Tool).toString();
    r.user = o.value(recordfield::User).toString();
    r.host = o.value(recordfield::Host).toString();
    r.address = o.value(recordfield::Address).toString();
    r.identity = o.value(recordfield::Identity).toString();
    r.kitFolder = o.value(recordfield::Kit).toString();
    for (const QJsonValue &value : o.value(recordfield::Modules).toArray()) {
        const QJsonObject m = value.toObject();
        r.modules.append(RecordedModule{m.value(recordfield::module::Id).toInt(), m.value(recordfield::module::Name).toString(),
                                       m.value(recordfield::module::Ticked).toBool()});
    }
    if (o.value(recordfield::Free).isDouble())
        r.freeSpace = qint64(o.value(recordfield::Free).toDouble());
    std::optional<QList<RecordedFile>> files = filesFromJson(o.value(recordfield::Files).toArray());
    if (!files)
        return std::nullopt;
    r.files = std::move(*files);
    r.kitDigest = o.value(recordfield::KitDigest).toString().toLatin1();
    r.outcome = o.value(recordfield::Outcome).toString();
    r.step = o.value(recordfield::Step).toString();
    r.message = o.value(recordfield::Message).toString();
    r.note = o.value(recordfield::Note).toString();
    r.bytes = qint64(o.value(recordfield::Bytes).toDouble());
    r.seconds = o.value(recordfield::Seconds).toDouble();
    r.dryRun = o.value(recordfield::DryRun).toBool();
    r.childExit = o.value(recordfield::ChildExit).toString();
    r.signerKey = o.value(recordfield::SignerKey).toString().toLatin1();
    r.signerComment = o.value(recordfield::SignerComment).toString();
    r.reboot = o.value(recordfield::Reboot).toString();
    r.audit = o.value(recordfield::Audit).toObject();
    r.snapshot = o.value(recordfield::Snapshot).toString();
    r.restoredFrom = o.value(recordfield::Restore).toString();
    r.sessions = std::max(0, o.value(recordfield::Sessions).toInt());
    r.sessionsAuto = o.value(recordfield::SessionsAuto).toBool();
    for (const QJsonValue &value : o.value(recordfield::Deleted).toArray()) {
        const QJsonObject f = value.toObject();
        r.deleted.append(RecordedFile{f.value(recordfield::file::Path).toString(),
                                      qint64(f.value(recordfield::file::Size).toDouble()),
                                      f.value(recordfield::file::Sha256).toString().toLatin1(), FileOutcome::NotSent,
                                      QDateTime()});
    }
    return r;
}

std::optional<QList<RecordedFile>> RunRecord::filesFromJson(const QJsonArray &array)
{
    QList<RecordedFile> files;
    files.reserve(array.size());
    for (const QJsonValue &value : array) {
        const QJsonObject f = value.toObject();
        const std::optional<FileOutcome> outcome = FileOutcomeNamed(f.value(recordfield::file::Outcome).toString());
        if (!outcome)
            return std::nullopt;
        RecordedFile file{f.value(recordfield::file::Path).toString(),
                          qint64(f.value(recordfield::file::Size).toDouble()),
                          f.value(recordfield::file::Sha256).toString().toLatin1(), *outcome, QDateTime()};
        if (*outcome == FileOutcome::NotSent && f.contains(recordfield::file::Already)) {
            file.outcome = FileOutcome::AlreadyThere;
            file.verifiedOn = parseTime(f.value(recordfield::file::VerifiedOn));
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

} // namespace upgrade

#include "upgrade/audit/KitAudit.h"

#include "instrument/InstrumentName.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/record/RunRecord.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/drive/DrivePath.h"

#include <QJsonArray>
#include <QSet>

namespace upgrade {
QString AuditVerdictText(AuditVerdict verdict)
{
    switch (verdict) {
    case AuditVerdict::Matches: return QStringLiteral("matches");
    case AuditVerdict::UnknownOrigin: return QStringLiteral("same size, origin unknown");
    case AuditVerdict::Differs: return QStringLiteral("differs");
    case AuditVerdict::Missing: return QStringLiteral("missing");
    case AuditVerdict::SizeUnknown: return QStringLiteral("size unknown");
    case AuditVerdict::Extra: break;
    }
    return QStringLiteral("extra");
}

QString AuditVerdictKey(AuditVerdict verdict)
{
    switch (verdict) {
    case AuditVerdict::Matches: return recordfield::audit::Matches;
    case AuditVerdict::UnknownOrigin: return recordfield::audit::UnknownOrigin;
    case AuditVerdict::Differs: return recordfield::audit::Differs;
    case AuditVerdict::Missing: return recordfield::audit::Missing;
    case AuditVerdict::SizeUnknown: return recordfield::audit::SizeUnknown;
    case AuditVerdict::Extra: break;
    }
    return recordfield::audit::Extra;
}

int AuditReport::count(AuditVerdict verdict) const
{
    return int(std::count_if(files.cbegin(), files.cend(), [verdict](const AuditedFile &f) { return f.verdict == verdict; }));
}

bool AuditReport::clean(bool strict) const
{
    return count(AuditVerdict::Differs) == 0 && count(AuditVerdict::Missing) == 0
           && (!strict || count(AuditVerdict::UnknownOrigin) + count(AuditVerdict::SizeUnknown) == 0);
}

bool AuditReport::toldNothing() const
{
    const int kitFiles = int(files.size()) - count(AuditVerdict::Extra);
    return kitFiles > 0 && count(AuditVerdict::SizeUnknown) == kitFiles;
}

QJsonObject AuditReport::toJson(bool strict) const
{
    QJsonObject counts;
    for (const AuditVerdict v : {AuditVerdict::Matches, AuditVerdict::UnknownOrigin, AuditVerdict::Differs,
                                 AuditVerdict::Missing, AuditVerdict::Extra, AuditVerdict::SizeUnknown})
        counts.insert(AuditVerdictKey(v), count(v));
    QJsonArray others;
    for (const AuditedFile &f : files) {
        if (f.verdict == AuditVerdict::Matches)
            continue;
        QJsonObject one{{recordfield::audit::Path, f.instrumentPath},
                        {recordfield::audit::Verdict, AuditVerdictKey(f.verdict)}};
        if (f.kitSize >= 0)
            one.insert(recordfield::audit::KitSize, double(f.kitSize));
        if (f.driveSize >= 0)
            one.insert(recordfield::audit::DriveSize, double(f.driveSize));
        if (!f.why.isEmpty())
            one.insert(recordfield::audit::Why, f.why);
        others.append(one);
    }
    QJsonObject object{{recordfield::audit::Counts, counts},
                       {recordfield::audit::Strict, strict},
                       {recordfield::audit::Clean, problem.isEmpty() && !toldNothing() && clean(strict)},
                       {recordfield::audit::Method, method},
                       {recordfield::audit::NotMatching, others}};
    if (!problem.isEmpty())
        object.insert(recordfield::audit::Problem, problem);
    else if (toldNothing())
        object.insert(recordfield::audit::Problem, QStringLiteral("the audit could not be made: nothing on the instrument could tell "
                                                "the size of any of the kit's files"));
    return object;
}

KitAudit::KitAudit(DriveLookup &drive, const SendIndex *index, QString instrumentKey)
    : drive(drive)
    , index(index)
    , instrumentKey(std::move(instrumentKey))
{
}

AuditReport KitAudit::run(const KitPlan &plan)
{
    AuditReport report;
    QStringList folders; // every folder the kit writes into, in copy order
    for (const PlannedFolder &folder : plan.folders)
        if (!folders.contains(folder.instrumentPath()))
            folders.append(folder.instrumentPath());
    for (const PlannedFile &file : plan.files) {
        auditFile(file, report);
        if (!report.problem.isEmpty())
            return report;
        if (!folders.contains(DriveFolderOf(file.instrumentPath)))
            folders.append(DriveFolderOf(file.instrumentPath));
    }
    for (const QString &folder : std::as_const(folders)) {
        addExtras(folder, plan, report);
        if (!report.problem.isEmpty())
            return report;
    }
    report.method = ways.join(QLatin1Char(' '));
    return report;
}

void KitAudit::auditFile(const PlannedFile &file, AuditReport &report)
{
    AuditedFile audited{file.instrumentPath, AuditVerdict::Missing, file.size, -1, QString(), QDateTime()};
    const std::optional<DriveAnswer> there = onDrive(file.instrumentPath, report);
    if (!there)
        return; // the drive could not be read: report.problem says why
    if (there->state != DriveAnswer::State::Absent) {
        const bool sized = there->state == DriveAnswer::State::Present;
        audited.driveSize = sized ? there->size : -1;
        const std::optional<VerifiedSend> send =
            index ? index->lastVerified(instrumentKey, file.instrumentPath) : std::nullopt;
        // An empty file at size 0 needs no hash; any other at the kit's
        // size is proven, or disproven, by the server's own digest.
        const std::optional<bool> same = sized && there->size == file.size && file.size > 0
                                                 && file.sha256.size() == 32
                                             ? sameByHash(file, report)
                                             : std::nullopt;
        if (!report.problem.isEmpty())
            return;
        if (same) {
            audited.verdict = *same ? AuditVerdict::Matches : AuditVerdict::Differs;
            if (!*same)
                audited.why = QStringLiteral("the drive's SHA-256 differs from the kit's");
            else if (send && send->sha256Hex == file.sha256.toHex())
                audited.verifiedOn = send->runStarted;
        } else if (sized && there->size != file.size) {
            audited.verdict = AuditVerdict::Differs;
        } else if (send && (send->sha256Hex != file.sha256.toHex() || send->size != file.size)) {
            audited.verdict = AuditVerdict::Differs;
            audited.why = QStringLiteral("the last verified send here (%1 UTC) carried other content")
                              .arg(send->runStarted.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        } else if (!sized) {
            // Never "same size": nobody could tell the size.
            audited.verdict = AuditVerdict::SizeUnknown;
            audited.why = there->state == DriveAnswer::State::SizeUnknown
                              ? QStringLiteral("on the drive, but nothing tells its size")
                              : QStringLiteral("nothing on the instrument tells whether it is there: ") + there->why;
        } else if (send) {
            audited.verdict = AuditVerdict::Matches;
            audited.verifiedOn = send->runStarted;
        } else {
            audited.verdict = AuditVerdict::UnknownOrigin;
        }
    }
    report.files.append(audited);
}

std::optional<bool> KitAudit::sameByHash(const PlannedFile &file, AuditReport &report)
{
    const std::optional<THashReply> reply = drive.sha256(file.instrumentPath);
    if (!reply)
        return std::nullopt; // no HASH: the history decides
    const THashReply &answer = *reply;
    const QString path = instrument::PrintablePath(file.instrumentPath);
    switch (answer.kind) {
    case THashReply::Kind::Hash:
        // A digest of less (or more) than the file proves nothing of it.
        if (answer.lastByte != file.size - 1)
            break;
        used(QStringLiteral("Checked content by the server's HASH (SHA-256)."));
        return answer.sha256 == file.sha256;
    case THashReply::Kind::Refused:
        return std::nullopt;
    case THashReply::Kind::Malformed:
        report.problem = QStringLiteral("the FTP server's HASH of %1 can't be trusted: %2").arg(path, answer.problem);
        return std::nullopt;
    case THashReply::Kind::Failed:
        report.problem = QStringLiteral("the FTP server answered \"%1\" to HASH %2")
                             .arg(instrument::PrintablePath(answer.replyLine.trimmed()), path);
        return std::nullopt;
    }
    report.problem = QStringLiteral("the FTP server's HASH of %1 covers other bytes than the file").arg(path);
    return std::nullopt;
}

std::optional<DriveAnswer> KitAudit::onDrive(const QString &instrumentPath, AuditReport &report)
{
    const DriveAnswer answer = drive.file(instrumentPath);
    used(answer);
    if (answer.state != DriveAnswer::State::Failed)
        return answer;
    report.problem = answer.why;
    if (answer.way == DriveAnswer::Way::FtpSize)
        report.problem += QLatin1Char(' ') + instrument::PrintablePath(instrumentPath);
    return std::nullopt;
}

void KitAudit::addExtras(const QString &folder, const KitPlan &plan, AuditReport &report)
{
    // The instrument keeps its own files and the MID folders in the system
    // folder: none of them is the kit's to judge.
    if (folder == SystemFolder)
        return;
    DriveAnswer found;
    const FolderListing *listing = drive.contents(folder, found);
    if (!listing) {
        if (found.state == DriveAnswer::State::Failed)
            report.problem = found.why;
        return;
    }
    QSet<QString> kitPaths;
    for (const PlannedFile &file : plan.files)
        kitPaths.insert(file.instrumentPath);
    for (const PlannedFolder &planned : plan.folders)
        kitPaths.insert(planned.instrumentPath());
    const bool moduleRoot = DriveFolderOf(folder) == InstrumentRoot;
    for (const FtpListing::Entry &entry : listing->entries) {
        const QString path = JoinDrivePath(folder, entry.name);
        if (kitPaths.contains(path))
            continue;
        // A SIGNAL folder goes only with its module's box ticked: left
        // on the drive it is the kit's all the same.
        if (moduleRoot && entry.folder && entry.name.compare(SignalFolder, Qt::CaseInsensitive) == 0)
            continue;
        report.files.append({entry.folder ? path + QLatin1Char('/') : path, AuditVerdict::Extra, -1,
                             entry.folder ? -1 : entry.size, QString(), QDateTime()});
    }
}

void KitAudit::used(const DriveAnswer &answer)
{
    switch (answer.way) {
    case DriveAnswer::Way::FtpListing:
        used(QStringLiteral("Listed each folder by the FTP server's listing (MLSD)."));
        break;
    case DriveAnswer::Way::Catalogue:
        used(QStringLiteral("Listed each folder by the instrument's catalogue (MMEM:CAT?)."));
        break;
    case DriveAnswer::Way::FtpSize:
        used(QStringLiteral("Sized files by the FTP server's SIZE."));
        break;
    case DriveAnswer::Way::None:
        break;
    }
}

void KitAudit::used(const QString &how)
{
    if (!ways.contains(how))
        ways.append(how);
}

} // namespace upgrade

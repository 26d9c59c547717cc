#include "upgrade/KitAudit.h"

#include "ftp/FtpTypes.h"
#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/SendIndex.h"

#include <QJsonArray>
#include <QSet>

namespace upgrade {
namespace {

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    // The drive root keeps its slash: "/F0:/KRN3" lies in "/F0:/".
    return slash > 0 && path.at(slash - 1) == QLatin1Char(':') ? path.left(slash + 1) : path.left(std::max<qsizetype>(0, slash));
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

QString AuditVerdictText(AuditVerdict verdict)
{
    switch (verdict) {
    case AuditVerdict::Matches: return QStringLiteral("matches");
    case AuditVerdict::UnknownOrigin: return QStringLiteral("same size, origin unknown");
    case AuditVerdict::Differs: return QStringLiteral("differs");
    case AuditVerdict::Missing: return QStringLiteral("missing");
    case AuditVerdict::Extra: break;
    }
    return QStringLiteral("extra");
}

QString AuditVerdictKey(AuditVerdict verdict)
{
    return verdict == AuditVerdict::UnknownOrigin ? QStringLiteral("unknown-origin") : AuditVerdictText(verdict);
}

int AuditReport::count(AuditVerdict verdict) const
{
    return int(std::count_if(files.cbegin(), files.cend(), [verdict](const AuditedFile &f) { return f.verdict == verdict; }));
}

bool AuditReport::clean(bool strict) const
{
    return count(AuditVerdict::Differs) == 0 && count(AuditVerdict::Missing) == 0
           && (!strict || count(AuditVerdict::UnknownOrigin) == 0);
}

QJsonObject AuditReport::toJson(bool strict) const
{
    QJsonObject counts;
    for (const AuditVerdict v : {AuditVerdict::Matches, AuditVerdict::UnknownOrigin, AuditVerdict::Differs,
                                 AuditVerdict::Missing, AuditVerdict::Extra})
        counts.insert(AuditVerdictKey(v), count(v));
    QJsonArray others;
    for (const AuditedFile &f : files) {
        if (f.verdict == AuditVerdict::Matches)
            continue;
        QJsonObject one{{"path", f.instrumentPath}, {"verdict", AuditVerdictKey(f.verdict)}};
        if (f.kitSize >= 0)
            one.insert("kitSize", double(f.kitSize));
        if (f.driveSize >= 0)
            one.insert("driveSize", double(f.driveSize));
        if (!f.why.isEmpty())
            one.insert("why", f.why);
        others.append(one);
    }
    QJsonObject object{{"counts", counts}, {"strict", strict}, {"clean", problem.isEmpty() && clean(strict)},
                       {"method", method}, {"notMatching", others}};
    if (!problem.isEmpty())
        object.insert("problem", problem);
    return object;
}

KitAudit::KitAudit(TfrmVX900 &link, const SendIndex *index, QString instrumentKey)
    : link(link)
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
        if (!folders.contains(folderOf(file.instrumentPath)))
            folders.append(folderOf(file.instrumentPath));
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
    const std::optional<DriveFile> drive = onDrive(file.instrumentPath, report, false);
    if (!drive)
        return; // the drive could not be read: report.problem says why
    if (drive->present) {
        audited.driveSize = drive->size;
        const std::optional<VerifiedSend> send =
            index ? index->lastVerified(instrumentKey, file.instrumentPath) : std::nullopt;
        // An empty file at size 0 needs no hash; any other at the kit's
        // size is proven, or disproven, by the server's own digest.
        const std::optional<bool> same =
            drive->size == file.size && file.size > 0 && file.sha256.size() == 32 && hashOffered()
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
        } else if (drive->size >= 0 && drive->size != file.size) {
            audited.verdict = AuditVerdict::Differs;
        } else if (send && (send->sha256Hex != file.sha256.toHex() || send->size != file.size)) {
            audited.verdict = AuditVerdict::Differs;
            audited.why = QStringLiteral("the last verified send here (%1 UTC) carried other content")
                              .arg(send->runStarted.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        } else if (drive->size < 0) {
            audited.verdict = AuditVerdict::UnknownOrigin;
            audited.why = QStringLiteral("on the drive, but nothing tells its size");
        } else if (send) {
            audited.verdict = AuditVerdict::Matches;
            audited.verifiedOn = send->runStarted;
        } else {
            audited.verdict = AuditVerdict::UnknownOrigin;
        }
    }
    report.files.append(audited);
}

bool KitAudit::hashOffered()
{
    if (!byHash) {
        const FtpListing::Features &features = link.ServerFeatures();
        byHash = features.hashSha256 && (features.hashSha256Selected || link.SelectHashSha256());
    }
    return *byHash;
}

std::optional<bool> KitAudit::sameByHash(const PlannedFile &file, AuditReport &report)
{
    const THashReply answer = link.FileHash(file.instrumentPath);
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

std::optional<KitAudit::DriveFile> KitAudit::onDrive(const QString &instrumentPath, AuditReport &report,
                                                    bool isFolder)
{
    const QString folder = folderOf(instrumentPath);
    // A folder is looked for in its parent's listing first: listing a folder
    // that is not there fails, and that must not fail the audit.
    if (folder != InstrumentRoot) {
        const std::optional<DriveFile> parent = onDrive(folder, report, true);
        if (!parent)
            return std::nullopt;
        if (!parent->present)
            return DriveFile{};
    }
    auto cached = listings.find(folder);
    if (cached == listings.end())
        cached = listings.insert(folder, link.ListFolder(folder));
    const FolderListing &listing = cached.value();
    switch (listing.status) {
    case FolderListing::Status::Failed:
        report.problem = listing.problem;
        return std::nullopt;
    case FolderListing::Status::Listed:
        used(listing.source == FolderListing::Source::FtpListing
                 ? QStringLiteral("Listed each folder by the FTP server's listing (MLSD).")
                 : QStringLiteral("Listed each folder by the instrument's catalogue (MMEM:CAT?)."));
        if (const FtpListing::Entry *entry = listing.find(nameOf(instrumentPath))) {
            // A catalogue that gives names only says nothing of the type
            // either: an entry without a size may be the folder.
            const bool maybeFolder = entry->folder || entry->size < 0;
            if (isFolder ? !maybeFolder : entry->folder)
                return DriveFile{}; // a file where a folder belongs, or the other way round
            if (isFolder || entry->size >= 0)
                return DriveFile{true, entry->size};
            break; // listed without its size: SIZE may tell
        }
        return DriveFile{};
    case FolderListing::Status::Unavailable:
        // Nothing lists the folder: a folder is taken to be there, and
        // each file is asked for by SIZE.
        if (isFolder)
            return DriveFile{true, -1};
        break;
    }
    const TSizeReply answer = link.FileSize(instrumentPath);
    switch (answer.kind) {
    case TSizeReply::Kind::Size:
        used(QStringLiteral("Sized files by the FTP server's SIZE."));
        return DriveFile{true, answer.size};
    case TSizeReply::Kind::NotFound:
        return DriveFile{};
    case TSizeReply::Kind::NotImplemented:
        return DriveFile{listing.status == FolderListing::Status::Listed, -1};
    case TSizeReply::Kind::Failed:
        break;
    }
    report.problem = QStringLiteral("the FTP server answered \"%1\" to SIZE %2")
                         .arg(instrument::PrintablePath(answer.replyLine.trimmed()),
                              instrument::PrintablePath(instrumentPath));
    return std::nullopt;
}

void KitAudit::addExtras(const QString &folder, const KitPlan &plan, AuditReport &report)
{
    // The instrument keeps its own files and the MID folders in the system
    // folder: none of them is the kit's to judge.
    if (folder == SystemFolder)
        return;
    if (!listings.contains(folder)) {
        const std::optional<DriveFile> self = onDrive(folder, report, true);
        if (!self || !self->present)
            return;
        listings.insert(folder, link.ListFolder(folder));
    }
    const auto cached = listings.constFind(folder);
    if (cached->status != FolderListing::Status::Listed) {
        if (cached->status == FolderListing::Status::Failed)
            report.problem = cached->problem;
        return;
    }
    QSet<QString> kitPaths;
    for (const PlannedFile &file : plan.files)
        kitPaths.insert(file.instrumentPath);
    for (const PlannedFolder &planned : plan.folders)
        kitPaths.insert(planned.instrumentPath());
    const bool moduleRoot = folderOf(folder) == InstrumentRoot;
    for (const FtpListing::Entry &entry : cached->entries) {
        const QString path = joinPath(folder, entry.name);
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

void KitAudit::used(const QString &how)
{
    if (!ways.contains(how))
        ways.append(how);
}

} // namespace upgrade

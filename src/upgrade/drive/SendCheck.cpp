#include "upgrade/drive/SendCheck.h"

#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DrivePath.h"

#include <algorithm>

namespace upgrade {
namespace {

using Verdict = UploadCheck::Verdict;
using State = DriveAnswer::State;

UploadCheck checkOf(const QString &path, qint64 size, const DriveAnswer &answer)
{
    UploadCheck check{Verdict::NotVerifiable, path, size, -1, QString()};
    switch (answer.state) {
    case State::Present:
        check.remoteSize = answer.size;
        check.verdict = answer.size == size ? Verdict::Verified : Verdict::Mismatch;
        break;
    case State::Absent:
        check.verdict = Verdict::Missing;
        break;
    case State::Failed:
        // A listing refused or not to be trusted, a 4xx to SIZE: the check
        // could not be made, which is no proof the file arrived.
        check.verdict = Verdict::Failed;
        check.reply = answer.why;
        break;
    case State::SizeUnknown:
    case State::Unknown:
        break;
    }
    return check;
}

} // namespace

SendCheck::SendCheck(DriveLookup &drive)
    : drive(drive)
{
}

QString SendCheck::methodText(Method method)
{
    switch (method) {
    case Method::FtpListing:
        return QStringLiteral("Verified each folder by the FTP server's listing (MLSD).");
    case Method::FtpSize:
        return QStringLiteral("Verified each file by its size on the FTP server (SIZE).");
    case Method::Catalogue:
        return QStringLiteral("The FTP server declines SIZE: verified each folder by the instrument's catalogue.");
    case Method::Nothing:
        break;
    }
    return QStringLiteral("Neither the FTP server nor the instrument's catalogue could tell what was stored: "
                          "the files were sent, not verifiable.");
}

void SendCheck::begin(const QStringList &plannedPaths)
{
    chosen.reset();
    plannedLeft.clear();
    waitingFolders.clear();
    waiting.clear();
    ways.clear();
    verifiedBy.clear();
    notVerifiable = 0;
    catalogueAfterSize = false;
    for (const QString &path : plannedPaths)
        ++plannedLeft[DriveFolderOf(path)];
}

SendCheck::Method SendCheck::method()
{
    // Asked once, when the first file is in: FEAT before the first upload
    // would cost a round trip also for runs that send nothing.
    if (!chosen)
        chosen = drive.offersSizedListing() ? Method::FtpListing : Method::FtpSize;
    return *chosen;
}

void SendCheck::counted(const UploadCheck &check, Method how)
{
    if (check.verdict == Verdict::NotVerifiable) {
        ++notVerifiable;
    } else if (check.verdict == Verdict::Verified) {
        ++verifiedBy[how];
        if (!ways.contains(how))
            ways.append(how);
    }
}

QString SendCheck::summary() const
{
    qint64 verified = 0;
    for (const qint64 count : verifiedBy)
        verified += count;
    const qint64 checked = verified + notVerifiable;
    if (checked == 0)
        return {};
    if (verified == 0)
        return QStringLiteral("None of the %1 file(s) sent could be verified: neither the FTP server nor the "
                              "instrument's catalogue could tell their sizes, so they were sent, not verifiable.")
            .arg(checked);
    QStringList texts;
    if (notVerifiable == 0) {
        for (const Method how : ways)
            texts.append(how == Method::Catalogue && !catalogueAfterSize
                             ? QStringLiteral("Verified each folder by the instrument's catalogue.")
                             : methodText(how));
        return texts.join(QLatin1Char(' '));
    }
    for (const Method how : ways) {
        const qint64 count = verifiedBy.value(how);
        switch (how) {
        case Method::FtpListing: texts.append(QStringLiteral("%1 by the FTP server's listing (MLSD)").arg(count)); break;
        case Method::FtpSize: texts.append(QStringLiteral("%1 by their size on the FTP server (SIZE)").arg(count)); break;
        case Method::Catalogue: texts.append(QStringLiteral("%1 by the instrument's catalogue").arg(count)); break;
        case Method::Nothing: break;
        }
    }
    return QStringLiteral("Verified %1 of the %2 file(s) sent (%3); for the other %4 nothing on the instrument told "
                          "their size: sent, not verifiable.")
        .arg(verified)
        .arg(checked)
        .arg(texts.join(QStringLiteral(", ")))
        .arg(notVerifiable);
}

QList<UploadCheck> SendCheck::sent(const QString &path, qint64 size, bool textType)
{
    drive.wrote(path);
    if (textType)
        return {presenceCheck(path, size)};

    const QString folder = DriveFolderOf(path);
    const Waiting one{path, size};
    const auto left = plannedLeft.find(folder);
    const bool lastOfFolder = left != plannedLeft.end() && --left.value() <= 0;
    switch (method()) {
    case Method::FtpSize:
        if (std::optional<UploadCheck> check = sizeCheck(one))
            return {*check};
        break; // declined: the file waits for the catalogue
    case Method::Nothing: {
        const UploadCheck check{Verdict::NotVerifiable, one.path, one.size, -1, QString()};
        counted(check, Method::Nothing);
        return {check};
    }
    case Method::FtpListing:
    case Method::Catalogue:
        break;
    }
    if (!waiting.contains(folder))
        waitingFolders.append(folder);
    waiting[folder].append(one);
    return lastOfFolder ? checkFolder(folder) : QList<UploadCheck>{};
}

QList<UploadCheck> SendCheck::skipped(const QString &instrumentPath)
{
    const QString folder = DriveFolderOf(instrumentPath);
    const auto left = plannedLeft.find(folder);
    if (left == plannedLeft.end() || --left.value() > 0 || !waiting.contains(folder))
        return {};
    return checkFolder(folder);
}

QList<UploadCheck> SendCheck::settle()
{
    QList<UploadCheck> checks;
    while (!waitingFolders.isEmpty()) {
        checks += checkFolder(waitingFolders.first());
        // A failed check ends the run: the caller stops at it.
        if (std::any_of(checks.cbegin(), checks.cend(), [](const UploadCheck &c) { return c.failed(); }))
            break;
    }
    return checks;
}

QList<UploadCheck> SendCheck::checkFolder(QString folder)
{
    const Method how = method();
    if (how == Method::FtpSize)
        return checkBySize(folder);
    const QList<Waiting> files = waiting.take(folder);
    waitingFolders.removeAll(folder);
    QList<UploadCheck> checks;
    for (const Waiting &file : files) {
        if (chosen == Method::Nothing) {
            checks.append({Verdict::NotVerifiable, file.path, file.size, -1, QString()});
            counted(checks.constLast(), Method::Nothing);
            continue;
        }
        const DriveAnswer answer = drive.file(file.path);
        // Nothing lists the folder and nothing sizes the file: the same
        // holds for every file from here on.
        if (answer.state == State::Unknown)
            chosen = Method::Nothing;
        checks.append(checkOf(file.path, file.size, answer));
        const Method way = answer.way == DriveAnswer::Way::FtpSize     ? Method::FtpSize
                           : answer.way == DriveAnswer::Way::Catalogue ? Method::Catalogue
                                                                       : Method::FtpListing;
        counted(checks.constLast(), way);
    }
    return checks;
}

QList<UploadCheck> SendCheck::checkBySize(QString folder)
{
    QList<UploadCheck> checks;
    QList<Waiting> files = waiting.take(folder);
    waitingFolders.removeAll(folder);
    while (!files.isEmpty()) {
        const Waiting file = files.takeFirst();
        if (std::optional<UploadCheck> check = sizeCheck(file)) {
            checks.append(*check);
            continue;
        }
        // SIZE declined half-way: the rest of the folder by the catalogue.
        files.prepend(file);
        waiting.insert(folder, files);
        waitingFolders.prepend(folder);
        return checks + checkFolder(folder);
    }
    return checks;
}

std::optional<UploadCheck> SendCheck::sizeCheck(const Waiting &file)
{
    const DriveAnswer answer = drive.sizeNow(file.path);
    if (answer.state == State::Unknown) {
        chosen = Method::Catalogue;
        catalogueAfterSize = true;
        return std::nullopt;
    }
    const UploadCheck check = checkOf(file.path, file.size, answer);
    counted(check, Method::FtpSize);
    return check;
}

UploadCheck SendCheck::presenceCheck(const QString &path, qint64 size)
{
    UploadCheck check{Verdict::NotVerifiable, path, size, -1, QString()};
    // From the listing alone: SIZE would select the image type amid the
    // text-type NAME files, and their size is not the point.
    DriveAnswer answer;
    const FolderListing *listing = drive.contents(DriveFolderOf(path), answer);
    // Only a listing that could be read may call the file missing.
    if (listing) {
        const FtpListing::Entry *entry = listing->find(DriveNameOf(path));
        check.verdict = entry && !entry->folder ? Verdict::Verified : Verdict::Missing;
        if (entry)
            check.remoteSize = entry->size;
    }
    return check;
}

} // namespace upgrade

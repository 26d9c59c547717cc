#include "upgrade/FolderVerifier.h"

#include "ftp/FtpTypes.h"
#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"

namespace {

using Verdict = UploadCheck::Verdict;

QString folderOf(const QString &path)
{
    return path.left(std::max<qsizetype>(0, path.lastIndexOf(QLatin1Char('/'))));
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

FolderVerifier::FolderVerifier(TfrmVX900 &link)
    : link(link)
{
}

QString FolderVerifier::methodText(Method method)
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

void FolderVerifier::begin(const QStringList &plannedPaths)
{
    chosen.reset();
    plannedLeft.clear();
    waitingFolders.clear();
    waiting.clear();
    ways.clear();
    for (const QString &path : plannedPaths)
        ++plannedLeft[folderOf(path)];
}

FolderVerifier::Method FolderVerifier::method()
{
    // Asked once, when the first file is in: FEAT before the first upload
    // would cost a round trip also for runs that send nothing.
    if (!chosen)
        chosen = link.ServerFeatures().mlsdSize ? Method::FtpListing : Method::FtpSize;
    return *chosen;
}

void FolderVerifier::used(Method how)
{
    if (!ways.contains(how))
        ways.append(how);
}

QString FolderVerifier::summary() const
{
    QStringList texts;
    for (const Method how : ways)
        texts.append(methodText(how));
    return texts.join(QLatin1Char(' '));
}

QList<UploadCheck> FolderVerifier::sent(const FileTransfer &file, bool textType)
{
    if (textType)
        return {presenceCheck(file)};

    const QString folder = folderOf(file.instrumentPath);
    const Waiting one{file.instrumentPath, nameOf(file.instrumentPath), file.size};
    const auto left = plannedLeft.find(folder);
    const bool lastOfFolder = left != plannedLeft.end() && --left.value() <= 0;
    switch (method()) {
    case Method::FtpSize:
        if (std::optional<UploadCheck> check = sizeCheck(one))
            return {*check};
        break; // declined: the file waits for the catalogue
    case Method::Nothing:
        used(Method::Nothing);
        return {UploadCheck{Verdict::NotVerifiable, one.path, one.size, -1, QString()}};
    case Method::FtpListing:
    case Method::Catalogue:
        break;
    }
    if (!waiting.contains(folder))
        waitingFolders.append(folder);
    waiting[folder].append(one);
    return lastOfFolder ? checkFolder(folder) : QList<UploadCheck>{};
}

QList<UploadCheck> FolderVerifier::skipped(const QString &instrumentPath)
{
    const QString folder = folderOf(instrumentPath);
    const auto left = plannedLeft.find(folder);
    if (left == plannedLeft.end() || --left.value() > 0 || !waiting.contains(folder))
        return {};
    return checkFolder(folder);
}

QList<UploadCheck> FolderVerifier::settle()
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

QList<UploadCheck> FolderVerifier::checkFolder(QString folder)
{
    const Method how = method();
    if (how == Method::FtpSize)
        return checkBySize(folder);
    const QList<Waiting> files = waiting.take(folder);
    waitingFolders.removeAll(folder);
    QList<UploadCheck> checks;
    if (files.isEmpty())
        return checks;

    const FolderListing listing =
        how == Method::FtpListing ? link.FtpFolderListing(folder) : link.CatalogueListing(folder);
    if (listing.status == FolderListing::Status::Unavailable) {
        if (how == Method::FtpListing) {
            // MLSD named in FEAT but declined: SIZE from now on.
            chosen = Method::FtpSize;
            waiting.insert(folder, files);
            waitingFolders.prepend(folder);
            return checkBySize(folder);
        }
        chosen = Method::Nothing;
        used(Method::Nothing);
        for (const Waiting &file : files)
            checks.append({Verdict::NotVerifiable, file.path, file.size, -1, QString()});
        return checks;
    }
    used(how);
    for (const Waiting &file : files) {
        UploadCheck check{Verdict::Failed, file.path, file.size, -1, listing.problem};
        if (listing.status == FolderListing::Status::Listed) {
            const FtpListing::Entry *entry = listing.find(file.name);
            if (!entry || entry->folder) {
                check.verdict = Verdict::Missing;
            } else if (entry->size < 0) {
                check.verdict = Verdict::NotVerifiable; // listed, its size not given
            } else {
                check.remoteSize = entry->size;
                check.verdict = entry->size == file.size ? Verdict::Verified : Verdict::Mismatch;
            }
        }
        checks.append(check);
    }
    return checks;
}

QList<UploadCheck> FolderVerifier::checkBySize(QString folder)
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

std::optional<UploadCheck> FolderVerifier::sizeCheck(const Waiting &file)
{
    const TSizeReply answer = link.FileSize(file.path);
    UploadCheck check{Verdict::Failed, file.path, file.size, -1, QString()};
    switch (answer.kind) {
    case TSizeReply::Kind::NotImplemented:
        chosen = Method::Catalogue;
        return std::nullopt;
    case TSizeReply::Kind::Size:
        check.remoteSize = answer.size;
        check.verdict = answer.size == file.size ? Verdict::Verified : Verdict::Mismatch;
        break;
    case TSizeReply::Kind::NotFound:
        check.verdict = Verdict::Missing;
        break;
    case TSizeReply::Kind::Failed:
        // A 4xx or an odd reply: the check could not be made, which is no
        // proof the file arrived.
        check.reply = QStringLiteral("the FTP server answered \"%1\" to SIZE")
                          .arg(instrument::PrintablePath(answer.replyLine.trimmed()));
        break;
    }
    used(Method::FtpSize);
    return check;
}

UploadCheck FolderVerifier::presenceCheck(const FileTransfer &file)
{
    UploadCheck check{Verdict::NotVerifiable, file.instrumentPath, file.size, -1, QString()};
    const FolderListing listing = link.ListFolder(folderOf(file.instrumentPath));
    // Only a listing that could be read may call the file missing.
    if (listing.status == FolderListing::Status::Listed) {
        const FtpListing::Entry *entry = listing.find(nameOf(file.instrumentPath));
        check.verdict = entry && !entry->folder ? Verdict::Verified : Verdict::Missing;
        if (entry)
            check.remoteSize = entry->size;
    }
    return check;
}

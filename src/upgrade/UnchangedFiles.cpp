#include "upgrade/UnchangedFiles.h"

#include "ftp/FtpTypes.h"
#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"

#include <QLocale>

namespace upgrade {

UnchangedFiles::UnchangedFiles(TfrmVX900 &link, const QString &historyFile, bool trustSize)
    : link(link)
    , index(historyFile)
    , trustSize(trustSize)
{
}

UnchangedFiles::~UnchangedFiles() = default;

std::optional<UnchangedFiles::Verdict> UnchangedFiles::check(const QString &identityReply, const QString &address,
                                                             const QString &instrumentPath, qint64 size,
                                                             const QByteArray &sha256Hex)
{
    // The record first: without a verified send of this content nothing on
    // the instrument needs to be asked, unless the size alone may vouch.
    Verdict verdict;
    const std::optional<VerifiedSend> send = index.lastVerified(InstrumentKey(identityReply, address), instrumentPath);
    if (send && send->sha256Hex == sha256Hex && send->size == size)
        verdict.verifiedOn = send->runStarted;
    else if (send || !trustSize)
        // Other content was verified there last: the file differs, whatever
        // its size. Only a file no run on record accounts for may be
        // vouched for by its size.
        return std::nullopt;
    if (sizeOnInstrument(instrumentPath) != size)
        return std::nullopt;
    return verdict;
}

std::optional<qint64> UnchangedFiles::sizeOnInstrument(const QString &instrumentPath)
{
    const qsizetype slash = instrumentPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = instrumentPath.left(std::max<qsizetype>(0, slash));
    const QString name = instrumentPath.mid(slash + 1);
    const std::shared_ptr<const FolderListing> listing = listingOf(folder);
    switch (listing->status) {
    case FolderListing::Status::Listed:
        if (const FtpListing::Entry *entry = listing->find(name)) {
            if (entry->folder)
                return std::nullopt;
            if (entry->size >= 0)
                return entry->size;
            break; // listed without its size: asked below
        }
        return std::nullopt;
    case FolderListing::Status::Failed:
        // A listing that was refused or can't be trusted says nothing.
        return std::nullopt;
    case FolderListing::Status::Unavailable:
        break;
    }
    const TSizeReply answer = link.NMFTP->FileSize(instrumentPath);
    if (answer.kind == TSizeReply::Kind::Size)
        return answer.size;
    return std::nullopt;
}

std::shared_ptr<const FolderListing> UnchangedFiles::listingOf(const QString &folder)
{
    auto listing = listings.value(folder);
    if (!listing) {
        listing = std::make_shared<const FolderListing>(link.ListFolder(folder));
        listings.insert(folder, listing);
    }
    return listing;
}

namespace {

QString folderPath(const QString &parent, const QString &name)
{
    // A module's folder is made in "/F0:/", which ends in its slash already.
    return parent.endsWith(QLatin1Char('/')) ? parent + name : parent + QLatin1Char('/') + name;
}

} // namespace

std::optional<bool> UnchangedFiles::folderPresent(const QString &parent, const QString &name)
{
    const std::shared_ptr<const FolderListing> listing = listingOf(parent);
    if (listing->status != FolderListing::Status::Listed)
        return std::nullopt;
    const FtpListing::Entry *entry = listing->find(name);
    // A file of that name is no folder to go into: the commands find out.
    if (entry && !entry->folder)
        return std::nullopt;
    return entry != nullptr;
}

void UnchangedFiles::madeFolder(const QString &parent, const QString &name)
{
    auto empty = std::make_shared<FolderListing>();
    empty->status = FolderListing::Status::Listed;
    listings.insert(folderPath(parent, name), std::move(empty));
}

void UnchangedFiles::skipped(qint64 size, const Verdict &verdict)
{
    ++files;
    bytes += size;
    if (!verdict.verifiedOn.isValid())
        ++bySizeAlone;
    else if (!since.isValid() || verdict.verifiedOn < since)
        since = verdict.verifiedOn;
}

QString UnchangedFiles::summary(bool dryRun) const
{
    // A dry run sent nothing: it tells what the run would leave out.
    if (files == 0)
        return dryRun ? QStringLiteral("Changed files only: a run would send every file; the instrument holds none of "
                                       "them as a run on record verified.")
                      : QStringLiteral("Changed files only: every file was sent; the instrument held none of them as "
                                       "a run on record had verified.");
    const QLocale c = QLocale::c();
    QString line = (dryRun ? QStringLiteral("Changed files only: a run would not send %1 file(s) (%2 bytes) again, "
                                            "the instrument holds them")
                           : QStringLiteral("Changed files only: %1 file(s) (%2 bytes) not sent again, the instrument "
                                            "holds them"))
                       .arg(files)
                       .arg(c.toString(bytes));
    if (since.isValid())
        line += QStringLiteral(" as verified by the runs on record since %1 UTC")
                    .arg(since.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (bySizeAlone > 0)
        line += QStringLiteral("; %1 of them at the kit's size only (--trust-size)").arg(bySizeAlone);
    return line + QLatin1Char('.');
}

} // namespace upgrade

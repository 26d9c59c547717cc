#include "upgrade/drive/DrivePlaces.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"

namespace upgrade {

DrivePlaces::DrivePlaces(TfrmVX900 &link)
    : link(link)
{
}

DrivePlaces::~DrivePlaces() = default;

DrivePlace DrivePlaces::at(const QString &instrumentPath)
{
    const qsizetype slash = instrumentPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = instrumentPath.left(std::max<qsizetype>(0, slash));
    const QString name = instrumentPath.mid(slash + 1);
    auto listing = listings.value(folder);
    if (!listing) {
        listing = std::make_shared<const FolderListing>(link.ListFolder(folder));
        listings.insert(folder, listing);
    }
    if (listing->status == FolderListing::Status::Listed) {
        const FtpListing::Entry *entry = listing->find(name);
        if (!entry)
            return {DrivePlace::State::Absent, -1, {}};
        if (entry->folder)
            return {DrivePlace::State::CantTell, -1,
                    QStringLiteral("%1 is a folder on the instrument").arg(instrument::PrintablePath(instrumentPath))};
        if (entry->size >= 0)
            return {DrivePlace::State::Present, entry->size, {}};
    }
    // A folder the listing refused is most often one that is not there yet;
    // SIZE tells that apart from one it could not read.
    return bySize(instrumentPath);
}

DrivePlace DrivePlaces::bySize(const QString &instrumentPath)
{
    if (!imageType) {
        // SIZE counts bytes only in image type.
        link.SetTransferType(TTransferType::Image);
        imageType = true;
    }
    const TSizeReply answer = link.FileSize(instrumentPath);
    switch (answer.kind) {
    case TSizeReply::Kind::Size:
        return {DrivePlace::State::Present, answer.size, {}};
    case TSizeReply::Kind::NotFound:
        return {DrivePlace::State::Absent, -1, {}};
    case TSizeReply::Kind::NotImplemented:
    case TSizeReply::Kind::Failed:
        break;
    }
    return {DrivePlace::State::CantTell, -1,
            QStringLiteral("neither a listing nor SIZE tells what the instrument holds at %1 (%2)")
                .arg(instrument::PrintablePath(instrumentPath), answer.replyLine.trimmed())};
}

} // namespace upgrade

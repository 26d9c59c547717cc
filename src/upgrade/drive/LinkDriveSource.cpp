#include "upgrade/drive/DriveSource.h"

#include "ftp/TNMFTP.h"

namespace upgrade {

LinkDriveSource::LinkDriveSource(TfrmVX900 &link)
    : link(link)
{
}

bool LinkDriveSource::offersSizedListing()
{
    return link.ServerFeatures().mlsdSize;
}

FolderListing LinkDriveSource::list(const QString &folder)
{
    return link.ListFolder(folder);
}

TSizeReply LinkDriveSource::size(const QString &path)
{
    // SIZE counts bytes only in image type; NAME files are sent in text type.
    link.SetTransferType(TTransferType::Image);
    return link.FileSize(path);
}

std::optional<THashReply> LinkDriveSource::sha256(const QString &path)
{
    if (!hashOffered) {
        const FtpListing::Features &features = link.ServerFeatures();
        hashOffered = features.hashSha256 && (features.hashSha256Selected || link.SelectHashSha256());
    }
    if (!*hashOffered)
        return std::nullopt;
    return link.FileHash(path);
}

} // namespace upgrade

#include "upgrade/drive/DriveSource.h"

#include "ftp/FtpDialogueState.h"
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
    // Once the server declined SIZE the FTP client answers for it, and no
    // type need be selected for that.
    if (!link.Declined(FtpExtension::Size))
        link.SetTransferType(TTransferType::Image);
    return link.FileSize(path);
}

std::optional<THashReply> LinkDriveSource::sha256(const QString &path)
{
    // The FTP client remembers FEAT, a declined HASH and the algorithm the
    // server took: asked per file, this costs no second round trip.
    const FtpListing::Features features = link.ServerFeatures();
    if (!features.hashSha256 || !(features.hashSha256Selected || link.SelectHashSha256()))
        return std::nullopt;
    return link.FileHash(path);
}

} // namespace upgrade

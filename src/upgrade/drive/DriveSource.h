#pragma once

#include "ftp/FtpTypes.h"
#include "instrument/Uvx900.h"

#include <QString>

#include <optional>

namespace upgrade {

// Where the drive lookup puts its questions. Over the link during a run
// (LinkDriveSource); over a command-channel probe after a restart, where
// only the instrument's catalogue can answer (ProbeDriveSource).
class DriveSource
{
public:
    virtual ~DriveSource() = default;

    // Whether the FTP server's listing (MLSD) gives sizes.
    [[nodiscard]] virtual bool offersSizedListing() = 0;
    // One folder's entries.
    [[nodiscard]] virtual FolderListing list(const QString &folder) = 0;
    // The server's SIZE of one file.
    [[nodiscard]] virtual TSizeReply size(const QString &path) = 0;
    // The server's SHA-256 of one file; nothing when it offers none.
    [[nodiscard]] virtual std::optional<THashReply> sha256(const QString &path) = 0;
};

// The one place in upgrade/ that calls the link for the drive's contents:
// its FTP server's FEAT, MLSD, SIZE and HASH, and the instrument's
// catalogue. A change of the link's or the FTP client's calls is made here.
// It keeps nothing: what the server offers and declined, the FTP client
// remembers per connection.
class LinkDriveSource final : public DriveSource
{
public:
    explicit LinkDriveSource(TfrmVX900 &link);

    bool offersSizedListing() override;
    // By MLSD where it is offered with sizes and not declined, else by the
    // instrument's catalogue.
    FolderListing list(const QString &folder) override;
    // In image type, selected when needed.
    TSizeReply size(const QString &path) override;
    std::optional<THashReply> sha256(const QString &path) override;

private:
    TfrmVX900 &link;
};

} // namespace upgrade

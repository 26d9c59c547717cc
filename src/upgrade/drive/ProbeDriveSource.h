#pragma once

#include "upgrade/drive/DriveSource.h"

class CommandProbe;

namespace upgrade {

// The drive as a command-channel probe sees it after a restart: the
// instrument's catalogue only, each reply bounded by `replyTimeoutMs`. A
// catalogue that gets no reply fails the listing ("no reply to the catalogue
// of F"): the probe has closed the connection, so nothing more can be asked.
class ProbeDriveSource final : public DriveSource
{
public:
    ProbeDriveSource(CommandProbe &probe, int replyTimeoutMs);

    bool offersSizedListing() override { return false; }
    FolderListing list(const QString &folder) override;
    // No FTP connection here: declined.
    TSizeReply size(const QString &path) override;
    std::optional<THashReply> sha256(const QString &) override { return std::nullopt; }

    // The text of a listing that failed for want of a reply.
    [[nodiscard]] static QString NoReplyText(const QString &folder);

private:
    CommandProbe &probe;
    int replyTimeoutMs;
};

} // namespace upgrade

#pragma once

#include "FtpListing.h"

#include <QString>

#include <array>
#include <optional>

// Commands beyond the basic set that a server may decline as commands.
enum class FtpExtension : int {
    Size = 0, // SIZE
    Mlsd = 1, // MLSD
    Hash = 2, // HASH (and OPTS HASH)
};

// What the FTP engine learns of one control connection beyond its
// properties: whether an earlier data command may still owe replies, which
// extensions the server declined, what it offers (FEAT) and the HASH
// algorithm it took. A new
// connection starts it afresh; it changes only through these members.
class FtpDialogueState
{
public:
    void Start() { *this = FtpDialogueState(); }

    // A data command went out: its verdict is owed until it is read.
    void DataCommandSent() { repliesOwed = true; }
    void BackInStep() { repliesOwed = false; }
    [[nodiscard]] bool RepliesOwed() const { return repliesOwed; }

    // `replyLine` is the server's refusal, kept to answer later asks with.
    void Declined(FtpExtension command, const QString &replyLine) { declined[index(command)] = replyLine; }
    // The refusal the server gave, or null when it did not decline.
    [[nodiscard]] const std::optional<QString> &Refusal(FtpExtension command) const
    {
        return declined[index(command)];
    }

    // The server took SHA-256 for HASH (OPTS HASH): it holds for the
    // connection, so it is not selected again.
    void Sha256Selected() { sha256Selected = true; }
    [[nodiscard]] bool HashIsSha256() const { return sha256Selected; }

    void Offers(const FtpListing::Features &features) { offered = features; }
    [[nodiscard]] const std::optional<FtpListing::Features> &Offered() const { return offered; }

private:
    static std::size_t index(FtpExtension command) { return std::size_t(command); }

    bool repliesOwed = false;
    std::array<std::optional<QString>, 3> declined;
    std::optional<FtpListing::Features> offered;
    bool sha256Selected = false;
};

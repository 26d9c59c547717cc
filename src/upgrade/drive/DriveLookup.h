#pragma once

#include "instrument/Uvx900.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace upgrade {

class DriveSource;

// What the drive lookup knows of one path on the instrument's drive.
struct DriveAnswer
{
    enum class State {
        Present,     // there, with `size` (a folder: there)
        SizeUnknown, // there, but nothing tells its size
        Absent,      // not there (or a folder where a file was asked, and the other way round)
        Unknown,     // nothing on this instrument can tell: `why`
        Failed,      // a listing or a SIZE was refused or can't be trusted: `why`
    };
    // How it was learnt.
    enum class Way { None, FtpListing, Catalogue, FtpSize };

    State state = State::Unknown;
    qint64 size = -1;
    Way way = Way::None;
    QString why;

    [[nodiscard]] bool present() const { return state == State::Present || state == State::SizeUnknown; }
};

// One per run: what is at a path on the instrument's drive. Each folder is
// listed at most once (the FTP server's MLSD, else the instrument's
// catalogue) until the run writes into it; SIZE is asked only for a file
// that no listing sizes. It keeps only what the run learnt of the drive's
// folders and files: whether the server declined SIZE or MLSD is the FTP
// client's to remember, and it asks the server no more once it did.
//
// A folder that the run knows is absent is never listed: its parent is
// looked at first, unless the run made the folder or wrote into it. An
// active-mode listing of a folder that isn't there can leave a late reply
// on the FTP connection, and a catalogue of one leaves an error behind.
class DriveLookup
{
public:
    explicit DriveLookup(DriveSource &source);

    [[nodiscard]] DriveAnswer file(const QString &path);
    [[nodiscard]] DriveAnswer folder(const QString &path);
    // The folder's listing, listed at most once; null when the folder is
    // absent, or can't be listed (`answer` then says which).
    [[nodiscard]] const FolderListing *contents(const QString &folder, DriveAnswer &answer);
    // The server's SIZE of a file asked right now, as the check after each
    // send asks it of a server without a sized listing. Unknown when the
    // server declines SIZE.
    [[nodiscard]] DriveAnswer sizeNow(const QString &path);
    // The server's SHA-256 of a file; nothing when it offers none.
    [[nodiscard]] std::optional<THashReply> sha256(const QString &path);

    // Whether the FTP server's listing gives sizes (FEAT); asked once.
    [[nodiscard]] bool offersSizedListing();

    // The run made (or entered) `folder`: it is there.
    void made(const QString &folder);
    // The run made `folder` just now where its parent's listing showed
    // nothing of that name: it is there and empty, so nothing in it is
    // listed before the run writes there.
    void madeEmpty(const QString &folder);
    // The run stored a file at `path`: its folder is there, and the
    // folder's listing no longer tells that file.
    void wrote(const QString &path);
    // The run removed (or tried to remove) the file at `path`: neither the
    // folder's listing nor SIZE tells it any more. Unlike wrote(), this says
    // nothing of whether the folder is there.
    void removed(const QString &path);

private:
    // Listed again when the run wrote `name` there since (any name, when empty).
    [[nodiscard]] const FolderListing &listed(const QString &folder, const QString &name);
    [[nodiscard]] DriveAnswer fromListing(const FolderListing &listing, const QString &name, bool asFolder) const;

    DriveSource &source;
    QHash<QString, FolderListing> listings;
    QHash<QString, QSet<QString>> writtenSinceListed; // per folder, names
    QSet<QString> known;                               // folders the run made or wrote into
    QHash<QString, DriveAnswer> sizes;                 // SIZE's answers, until the run writes there
};

} // namespace upgrade

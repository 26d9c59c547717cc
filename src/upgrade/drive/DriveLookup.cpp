#include "upgrade/drive/DriveLookup.h"

#include "instrument/InstrumentName.h"
#include "upgrade/drive/DrivePath.h"
#include "upgrade/drive/DriveSource.h"

namespace upgrade {
namespace {

using State = DriveAnswer::State;
using Way = DriveAnswer::Way;

DriveAnswer answer(State state, Way way, qint64 size = -1, QString why = {})
{
    return DriveAnswer{state, size, way, std::move(why)};
}

} // namespace

DriveLookup::DriveLookup(DriveSource &source)
    : source(source)
{
}

bool DriveLookup::offersSizedListing()
{
    return source.offersSizedListing();
}

void DriveLookup::made(const QString &folder)
{
    for (QString path = folder; !path.isEmpty() && !known.contains(path); path = DriveFolderOf(path)) {
        known.insert(path);
        if (IsDriveRoot(path))
            break;
    }
}

void DriveLookup::madeEmpty(const QString &folder)
{
    made(folder);
    // Told the way the parent was: the empty listing stands for one of the
    // same kind. Without the parent's listing nothing vouches for "empty".
    const auto parent = listings.constFind(DriveFolderOf(folder));
    if (parent == listings.cend() || parent->status != FolderListing::Status::Listed)
        return;
    FolderListing empty;
    empty.status = FolderListing::Status::Listed;
    empty.source = parent->source;
    listings.insert(folder, std::move(empty));
    writtenSinceListed.remove(folder);
    sizes.removeIf([&folder](const auto &entry) { return DriveFolderOf(entry.key()) == folder; });
}

void DriveLookup::wrote(const QString &path)
{
    made(DriveFolderOf(path));
    removed(path);
}

void DriveLookup::removed(const QString &path)
{
    const QString folder = DriveFolderOf(path);
    sizes.remove(path);
    if (listings.contains(folder))
        writtenSinceListed[folder].insert(DriveNameOf(path));
}

const FolderListing &DriveLookup::listed(const QString &folder, const QString &name)
{
    auto cached = listings.find(folder);
    const auto written = writtenSinceListed.constFind(folder);
    const bool stale = written != writtenSinceListed.cend() && (name.isEmpty() || written->contains(name));
    if (cached == listings.end() || stale) {
        writtenSinceListed.remove(folder);
        cached = listings.insert(folder, source.list(folder));
    }
    return cached.value();
}

DriveAnswer DriveLookup::fromListing(const FolderListing &listing, const QString &name, bool asFolder) const
{
    const Way way = listing.source == FolderListing::Source::FtpListing ? Way::FtpListing : Way::Catalogue;
    switch (listing.status) {
    case FolderListing::Status::Failed:
        return answer(State::Failed, way, -1, listing.problem);
    case FolderListing::Status::Unavailable:
        return answer(State::Unknown, Way::None, -1, listing.problem);
    case FolderListing::Status::Listed:
        break;
    }
    const FtpListing::Entry *entry = listing.find(name);
    if (!entry)
        return answer(State::Absent, way);
    // A catalogue that gives names only says nothing of the type either: an
    // entry without a size may be a folder.
    if (asFolder)
        return answer(entry->folder || entry->size < 0 ? State::Present : State::Absent, way);
    if (entry->folder)
        return answer(State::Absent, way);
    return entry->size >= 0 ? answer(State::Present, way, entry->size) : answer(State::SizeUnknown, way);
}

DriveAnswer DriveLookup::folder(const QString &path)
{
    if (IsDriveRoot(path) || known.contains(path))
        return answer(State::Present, Way::None);
    const QString parent = DriveFolderOf(path);
    if (parent.isEmpty() || parent == path)
        return answer(State::Unknown, Way::None, -1,
                      QStringLiteral("%1 is no path on the drive").arg(instrument::PrintablePath(path)));
    const DriveAnswer up = folder(parent);
    if (up.state == State::Absent || up.state == State::Failed)
        return up;
    return fromListing(listed(parent, DriveNameOf(path)), DriveNameOf(path), true);
}

const FolderListing *DriveLookup::contents(const QString &path, DriveAnswer &found)
{
    found = folder(path);
    if (found.state == State::Absent || found.state == State::Failed)
        return nullptr;
    const FolderListing &listing = listed(path, QString());
    if (listing.status == FolderListing::Status::Listed)
        return &listing;
    found = fromListing(listing, QString(), true);
    return nullptr;
}

DriveAnswer DriveLookup::file(const QString &path)
{
    const QString folderPath = DriveFolderOf(path);
    const QString name = DriveNameOf(path);
    const DriveAnswer where = folder(folderPath);
    if (where.state == State::Absent || where.state == State::Failed)
        return where;
    DriveAnswer found = fromListing(listed(folderPath, name), name, false);
    if (found.state != State::SizeUnknown && found.state != State::Unknown)
        return found;
    // No listing sizes it: SIZE may.
    const DriveAnswer sized = sizeNow(path);
    if (sized.state != State::Unknown)
        return sized;
    if (found.state == State::Unknown && found.why.isEmpty())
        found.why = sized.why;
    return found;
}

DriveAnswer DriveLookup::sizeNow(const QString &path)
{
    if (const auto cached = sizes.constFind(path); cached != sizes.cend())
        return cached.value();
    const TSizeReply reply = source.size(path);
    DriveAnswer found;
    switch (reply.kind) {
    case TSizeReply::Kind::Size:
        found = answer(State::Present, Way::FtpSize, reply.size);
        break;
    case TSizeReply::Kind::NotFound:
        found = answer(State::Absent, Way::FtpSize);
        break;
    case TSizeReply::Kind::NotImplemented:
        return answer(State::Unknown, Way::None, -1, QStringLiteral("the FTP server declines SIZE"));
    case TSizeReply::Kind::Failed:
        // A 4xx or an odd reply: no proof either way, and maybe not for long.
        return answer(State::Failed, Way::FtpSize, -1,
                      QStringLiteral("the FTP server answered \"%1\" to SIZE")
                          .arg(instrument::PrintablePath(reply.replyLine.trimmed())));
    }
    sizes.insert(path, found);
    return found;
}

std::optional<THashReply> DriveLookup::sha256(const QString &path)
{
    return source.sha256(path);
}

} // namespace upgrade

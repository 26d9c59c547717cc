#pragma once

#include <QString>

#include <memory>
#include <optional>

// Local folders as the original desktop platform presented them: every entry
// of a folder with attribute bits and sizes, and names that match without
// regard to letter case ("target" and "Target" are the same folder there,
// and the catalogue and the run spell it differently).
namespace platform {

// Attribute bits of a listed entry, with the original platform's values.
enum FileAttribute : quint32 {
    FA_READONLY = 1,   // the owner may not write it
    FA_HIDDEN = 2,     // a dot-named entry (other than "." and ".."): this platform's "hidden"
    FA_SYSTEM = 4,     // neither a regular file nor a folder: device, pipe, socket, dangling link
    FA_DIRECTORY = 16,
    FA_ARCHIVE = 32,   // every regular file, as a freshly written file carries it there
};

struct FolderEntry
{
    QString name;          // bare name, no path
    quint32 attributes = 0;
    qint64 size = 0;       // bytes of a regular file; 0 for anything else
    bool isFolder() const { return attributes & FA_DIRECTORY; }
    // Only regular files can be read through to an end: a pipe or a device
    // would block or never end, so callers that read files check this.
    bool isRegularFile() const { return !(attributes & (FA_DIRECTORY | FA_SYSTEM)); }
};

// One open listing of a folder: every entry, hidden and special ones too, and
// "." and ".." as the original listing returned them (callers skip names that
// begin with "."), in the order the file system returns them. Symbolic links
// are followed: a link to a folder lists as a folder. The listing is closed
// by close() or, on every other way out, by the destructor.
class FolderListing
{
public:
    explicit FolderListing(const QString &folder);
    ~FolderListing();
    FolderListing(const FolderListing &) = delete;
    FolderListing &operator=(const FolderListing &) = delete;

    // False when the folder does not exist or cannot be read.
    [[nodiscard]] bool isOpen() const;
    // Fills `entry` with the next entry; false when there is none, when the
    // listing is not open, or when reading it failed (see failed()).
    [[nodiscard]] bool next(FolderEntry &entry);
    void close();

    // The folder exists but could not be listed to its end: it could not be
    // opened (no permission, say) or reading it failed part-way. A folder
    // that does not exist at all is no failure; callers that met it as an
    // entry of its parent count that as one too.
    [[nodiscard]] bool failed() const { return !failure.isEmpty(); }
    // The missing folder: nothing at that path (or a file, not a folder).
    [[nodiscard]] bool missing() const { return absent; }
    // What went wrong, as the system says it ("Permission denied").
    [[nodiscard]] QString errorString() const { return failure; }

private:
    [[nodiscard]] bool fill();

    int fd = -1; // the open folder
    // Entries as the system hands them out, a buffer at a time.
    std::unique_ptr<char[]> buffer;
    long buffered = 0;
    long position = 0;
    QString resolvedFolder;
    QString failure;
    bool absent = false;
};

// The existing path that `path` names when its components are compared
// without regard to case. A component that exists exactly as written is taken
// as written; otherwise the first of the folder's names that matches without
// regard to case, in sorted order, so that the choice is stable when several
// differ only in case. Nothing when some component matches nothing.
[[nodiscard]] std::optional<QString> ResolveLocalPath(const QString &path);

// A folder (or a link to one) exists at `path`, names compared without
// regard to case.
[[nodiscard]] bool FolderExists(const QString &path);

// A regular file (or a link to one) exists at `path`, names compared without
// regard to case. Folders, pipes and devices do not count: nothing that could
// block a reader passes as a file.
[[nodiscard]] bool FileExists(const QString &path);

// `folder` and `name` joined with this platform's separator; no separator is
// doubled when `folder` already ends in one.
[[nodiscard]] QString JoinLocalPath(const QString &folder, const QString &name);

// This platform's separator between a folder and a name.
inline constexpr QChar LocalSeparator = u'/';

} // namespace platform

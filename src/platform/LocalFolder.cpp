#include "platform/LocalFolder.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// One system read of a folder: some hundreds of entries.
constexpr long ListingBufferSize = 32768;

bool pathExists(const QString &path)
{
    struct stat st {};
    return ::lstat(nativePath(path).constData(), &st) == 0;
}

// The name inside `folder` that matches `name` without regard to case; the
// smallest in sorted order when several do.
std::optional<QString> findWithoutCase(const QString &folder, const QString &name)
{
    DIR *dir = ::opendir(nativePath(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
    if (!dir)
        return std::nullopt;
    QStringList matches;
    while (const dirent *d = ::readdir(dir)) {
        const QString candidate = QFile::decodeName(d->d_name);
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            matches.append(candidate);
    }
    ::closedir(dir);
    if (matches.isEmpty())
        return std::nullopt;
    matches.sort(Qt::CaseSensitive);
    return matches.first();
}

quint32 attributesOf(const struct stat &st, bool followed, const QString &name)
{
    quint32 attributes = 0;
    if (!followed)
        attributes |= FA_SYSTEM; // a dangling link: nothing behind it to read
    else if (S_ISDIR(st.st_mode))
        attributes |= FA_DIRECTORY;
    else if (S_ISREG(st.st_mode))
        attributes |= FA_ARCHIVE;
    else
        attributes |= FA_SYSTEM;
    if (!(st.st_mode & S_IWUSR))
        attributes |= FA_READONLY;
    if (name.startsWith(u'.') && name != QLatin1String(".") && name != QLatin1String(".."))
        attributes |= FA_HIDDEN;
    return attributes;
}

} // namespace

std::optional<QString> ResolveLocalPath(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    if (pathExists(path))
        return path;

    const bool absolute = path.startsWith(LocalSeparator);
    const QStringList parts = path.split(LocalSeparator, Qt::SkipEmptyParts);
    QString resolved = absolute ? QString(LocalSeparator) : QString();
    for (const QString &part : parts) {
        const QString exact = JoinLocalPath(resolved, part);
        if (pathExists(exact)) {
            resolved = exact;
            continue;
        }
        const std::optional<QString> match = findWithoutCase(resolved, part);
        if (!match)
            return std::nullopt;
        resolved = JoinLocalPath(resolved, *match);
    }
    // A trailing separator says "a folder"; keep it so that the caller's
    // test sees the same kind of path it asked about.
    if (path.endsWith(LocalSeparator) && !resolved.endsWith(LocalSeparator))
        resolved += LocalSeparator;
    return resolved;
}

bool FolderExists(const QString &path)
{
    const std::optional<QString> resolved = ResolveLocalPath(path);
    struct stat st {};
    return resolved && ::stat(nativePath(*resolved).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const QString &path)
{
    const std::optional<QString> resolved = ResolveLocalPath(path);
    struct stat st {};
    return resolved && ::stat(nativePath(*resolved).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QString JoinLocalPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(LocalSeparator))
        return folder + name;
    return folder + LocalSeparator + name;
}

FolderListing::FolderListing(const QString &folder)
{
    const std::optional<QString> resolved = ResolveLocalPath(folder);
    if (!resolved) {
        absent = true;
        return;
    }
    resolvedFolder = *resolved;
    fd = ::open(nativePath(resolvedFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            absent = true;
        else
            failure = QString::fromLocal8Bit(std::strerror(error));
        return;
    }
    buffer = std::make_unique<char[]>(ListingBufferSize);
}

FolderListing::~FolderListing()
{
    close();
}

bool FolderListing::isOpen() const
{
    return fd >= 0;
}

// The C library's readdir takes a folder that the system can no longer list
// (ENOENT: removed, or gone with its process under /proc) for one at its
// end. Read straight from the system, so that a listing cut short is never
// passed off as a complete one.
bool FolderListing::fill()
{
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer.get(), ListingBufferSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            close();
            return false;
        }
        buffered = long(n);
        position = 0;
        return n > 0;
    }
}

bool FolderListing::next(FolderEntry &entry)
{
    if (fd < 0)
        return false;
    if (position >= buffered && !fill())
        return false;
    const auto *item = reinterpret_cast<const struct dirent64 *>(buffer.get() + position);
    position += item->d_reclen;

    entry.name = QFile::decodeName(item->d_name);
    struct stat st {};
    bool followed = ::fstatat(fd, item->d_name, &st, 0) == 0;
    if (!followed && ::fstatat(fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        st = {}; // vanished since it was listed: report it as a bare special entry
    entry.attributes = attributesOf(st, followed, entry.name);
    entry.size = S_ISREG(st.st_mode) && followed ? qint64(st.st_size) : 0;
    return true;
}

void FolderListing::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    buffer.reset();
    buffered = position = 0;
}

} // namespace platform

#include "upgrade/record/HistoryFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace upgrade {
namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A run holds the lock for one write, a few milliseconds. Waiting for it is
// bounded all the same: a run stopped while holding it must not hold up
// every later run for ever.
std::optional<QString> lock(int fd, int operation)
{
    constexpr int Attempts = 500; // 10 ms apart: 5 s
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return std::nullopt;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return systemError(errno);
        const struct timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
    }
    return QStringLiteral("another run has held its lock for more than 5 s");
}

// Whether `fd` is still the file at `path`; a rotation renames it away.
bool isCurrent(int fd, const QByteArray &path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 && opened.st_dev == named.st_dev
           && opened.st_ino == named.st_ino;
}

} // namespace

QString RotatedHistoryFile(const QString &current, int age)
{
    if (age <= 0)
        return current;
    const QString suffix = QStringLiteral(".jsonl");
    if (current.endsWith(suffix))
        return current.chopped(suffix.size()) + QLatin1Char('.') + QString::number(age) + suffix;
    return current + QLatin1Char('.') + QString::number(age);
}

HistoryFile::~HistoryFile()
{
    close();
}

void HistoryFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::optional<QString> HistoryFile::open(const QString &path, Mode mode)
{
    close();
    const QByteArray name = QFile::encodeName(path);
    const int flags = mode == Mode::Read ? O_RDONLY | O_CLOEXEC : O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC;
    // Each round loses only to a rotation by another run, which takes one
    // write; the bound guards against a file swapped under us for ever.
    constexpr int Rounds = 100;
    for (int round = 0; round < Rounds; ++round) {
        // The process's umask decides who else may read and append: a
        // history in a folder the lab's PCs share is everyone's record.
        fd = ::open(name.constData(), flags, 0666);
        if (fd < 0)
            return mode == Mode::Read && errno == ENOENT ? std::nullopt : std::optional(systemError(errno));
        if (const std::optional<QString> why = lock(fd, mode == Mode::Read ? LOCK_SH : LOCK_EX)) {
            close();
            return why;
        }
        if (isCurrent(fd, name))
            return std::nullopt;
        close();
    }
    return QStringLiteral("the file kept being replaced by other runs");
}

} // namespace upgrade

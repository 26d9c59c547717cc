#include "upgrade/record/HistoryWriter.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace upgrade {
namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

HistoryWriter::HistoryWriter(QString file, HistoryLimits limits)
    : path(std::move(file))
    , limits(limits)
{
}

std::optional<QString> HistoryWriter::append(const QByteArray &line, const Written &written) const
{
    // A rotation by this run or another hands the next round a fresh file;
    // the bound only guards against one rotated for ever.
    constexpr int Rounds = 10;
    for (int round = 0; round < Rounds; ++round) {
        HistoryFile file;
        if (const std::optional<QString> why = file.open(path, HistoryFile::Mode::Append))
            return why;
        struct stat status {};
        if (::fstat(file.descriptor(), &status) != 0)
            return systemError(errno);
        // +2: the line end, and the one a cut-off last line may need.
        if (status.st_size > 0 && status.st_size + line.size() + 2 > limits.maxBytes) {
            if (const std::optional<QString> why = rotate())
                return why;
            continue;
        }
        if (const std::optional<QString> why = write(file.descriptor(), status.st_size, line))
            return why;
        if (written)
            written(file.descriptor(), status);
        return std::nullopt;
    }
    return QStringLiteral("the history kept being rotated by other runs");
}

std::optional<QString> HistoryWriter::rotate() const
{
    if (limits.keptFiles <= 0) {
        if (::unlink(QFile::encodeName(path).constData()) != 0)
            return QStringLiteral("can't rotate: ") + systemError(errno);
        return std::nullopt;
    }
    // Oldest first, so that each rename only replaces what is let go.
    for (int age = limits.keptFiles; age >= 1; --age) {
        const QByteArray from = QFile::encodeName(RotatedHistoryFile(path, age - 1));
        const QByteArray to = QFile::encodeName(RotatedHistoryFile(path, age));
        if (::rename(from.constData(), to.constData()) != 0 && errno != ENOENT)
            return QStringLiteral("can't rotate %1: %2").arg(QFile::decodeName(from), systemError(errno));
    }
    return std::nullopt;
}

std::optional<QString> HistoryWriter::write(int fd, qint64 size, const QByteArray &line) const
{
    // A last line without its end is what a run cut off mid-write left; the
    // new record goes on a line of its own, or both would be lost.
    QByteArray bytes;
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) != 1)
        return systemError(errno);
    if (last != '\n')
        bytes += '\n';
    bytes += line;
    bytes += '\n';

    // The lock keeps other runs out; a write that stops part-way (a full
    // disk) is taken back, so that no half line is left behind.
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString why = n < 0 ? systemError(errno) : QStringLiteral("nothing could be written");
            if (::ftruncate(fd, size) != 0)
                return why + QStringLiteral("; part of the record may remain in the file");
            return why;
        }
        written += n;
    }
    if (::fdatasync(fd) != 0)
        return systemError(errno);
    return std::nullopt;
}

} // namespace upgrade

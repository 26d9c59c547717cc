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
    return append([&line](const Sink &sink) { return sink(line); }, written);
}

std::optional<QString> HistoryWriter::append(const Producer &line, const Written &written) const
{
    qint64 lineBytes = 0;
    if (!line([&lineBytes](QByteArrayView piece) {
            lineBytes += piece.size();
            return true;
        }))
        return QStringLiteral("the record could not be made");
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
        if (status.st_size > 0 && status.st_size + lineBytes + 2 > limits.maxBytes) {
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

std::optional<QString> HistoryWriter::write(int fd, qint64 size, const Producer &line) const
{
    // A last line without its end is what a run cut off mid-write left; the
    // new record goes on a line of its own, or both would be lost.
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) != 1)
        return systemError(errno);

    // The lock keeps other runs out; a write that stops part-way (a full
    // disk) is taken back, so that no half line is left behind.
    QString why;
    const auto put = [fd, &why](QByteArrayView bytes) {
        qsizetype written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + written, size_t(bytes.size() - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                why = n < 0 ? systemError(errno) : QStringLiteral("nothing could be written");
                return false;
            }
            written += n;
        }
        return true;
    };
    const bool whole = (last == '\n' || put("\n")) && line(put) && (why.isEmpty() && put("\n"));
    if (!whole) {
        if (why.isEmpty())
            why = QStringLiteral("the record could not be made");
        if (::ftruncate(fd, size) != 0)
            return why + QStringLiteral("; part of the record may remain in the file");
        return why;
    }
    if (::fdatasync(fd) != 0)
        return systemError(errno);
    return std::nullopt;
}
} // namespace upgrade

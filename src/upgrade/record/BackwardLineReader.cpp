#include "upgrade/record/BackwardLineReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace upgrade {

BackwardLineReader::BackwardLineReader(int fd)
    : fd(fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        failure = QString::fromLocal8Bit(std::strerror(errno));
    else
        position = status.st_size;
    // The line end of the last line opens no empty line after it.
    char last = 0;
    if (!failure && position > 0 && ::pread(fd, &last, 1, position - 1) == 1 && last == '\n')
        --position;
}

bool BackwardLineReader::readBlock()
{
    // Blocks grow with the line being read, so that a long line costs
    // as many copies as its size doubles, not one per block.
    const qint64 count = std::min<qint64>(std::max(BlockBytes, pending.size()), position);
    QByteArray block(qsizetype(count), Qt::Uninitialized);
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, block.data() + done, size_t(count - done), position - count + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("the file shrank");
            return false;
        }
        done += n;
    }
    position -= count;
    pending.prepend(block);
    return true;
}

bool BackwardLineReader::previous(QByteArray &line, bool &overlong)
{
    if (failure || atStart)
        return false;
    for (;;) {
        // memrchr, not QByteArray::lastIndexOf, which looks at a byte at a
        // time: a filtered read of a long history spends most of its time here.
        const void *lineEnd = ::memrchr(pending.constData(), '\n', size_t(pending.size()));
        const qsizetype end = lineEnd ? static_cast<const char *>(lineEnd) - pending.constData() : -1;
        if (end >= 0 || position == 0) {
            overlong = skipping || pending.size() - (end + 1) > MaxLineBytes;
            line = overlong ? QByteArray() : pending.mid(end + 1);
            skipping = false;
            if (end >= 0)
                pending.truncate(end);
            else
                atStart = true;
            return true;
        }
        if (pending.size() > MaxLineBytes) {
            // Keeps the memory bounded: the rest of this line only counts.
            skipping = true;
            pending.clear();
        }
        if (!readBlock())
            return false;
    }
}

} // namespace upgrade

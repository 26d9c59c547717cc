#include "platform/ProgramFile.h"

#include <QByteArray>
#include <QFile>

#include <unistd.h>

namespace platform {

QString ModuleFileName()
{
    // The link's length is not known in advance: grow the buffer until the
    // whole path fits, so that no folder name is ever cut short.
    for (qsizetype size = 256; size <= 1024 * 1024; size *= 4) {
        QByteArray buffer(size, '\0');
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), size_t(buffer.size()));
        if (length < 0)
            return {};
        if (length < size)
            return QFile::decodeName(buffer.left(length));
    }
    return {};
}

} // namespace platform

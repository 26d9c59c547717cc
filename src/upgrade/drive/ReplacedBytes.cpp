#include "upgrade/drive/ReplacedBytes.h"

#include "upgrade/drive/DriveLookup.h"

namespace upgrade {

qint64 ReplacedBytes(DriveLookup &drive, const QStringList &instrumentPaths, qint64 enough,
                     const std::function<void()> &afterEach)
{
    qint64 replaced = 0;
    for (const QString &path : instrumentPaths) {
        if (replaced >= enough)
            break;
        const DriveAnswer answer = drive.file(path);
        if (afterEach)
            afterEach();
        if (answer.state == DriveAnswer::State::Present && answer.size > 0)
            replaced += answer.size;
    }
    return replaced;
}

} // namespace upgrade

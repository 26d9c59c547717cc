#include "app/Utilities.h"

#include "platform/LocalFolder.h"

PathParts SplitPath(QString path)
{
    const qsizetype last = path.lastIndexOf(platform::LocalSeparator);
    if (last < 0)
        return {QString(), path};
    return {path.left(last + 1), path.mid(last + 1)};
}

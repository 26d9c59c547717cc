#include "platform/Utilities.h"

#include "platform/LocalFolder.h"
#include "platform/ProgramFile.h"

PathParts SplitPath(QString path)
{
    const qsizetype last = path.lastIndexOf(platform::LocalSeparator);
    if (last < 0)
        return {QString(), path};
    return {path.left(last + 1), path.mid(last + 1)};
}

QString ProgramFolder(const std::optional<QString> &given)
{
    if (!given)
        return SplitPath(platform::ModuleFileName()).folder;
    QString folder = *given;
    if (!folder.endsWith(platform::LocalSeparator))
        folder += platform::LocalSeparator;
    return folder;
}

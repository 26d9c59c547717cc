#include "upgrade/drive/DrivePath.h"

namespace upgrade {

bool IsDriveRoot(const QString &path)
{
    return path.endsWith(QLatin1String(":/"));
}

QString DriveFolderOf(const QString &path)
{
    if (IsDriveRoot(path))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash > 0 && path.at(slash - 1) == QLatin1Char(':') ? path.left(slash + 1) : path.left(slash);
}

QString DriveNameOf(const QString &path)
{
    return IsDriveRoot(path) ? QString() : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString JoinDrivePath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace upgrade

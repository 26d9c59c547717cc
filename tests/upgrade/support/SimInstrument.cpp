#include "SimInstrument.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

QByteArray SimInstrument::file(const QString &instrumentPath) const
{
    QFile f(hostPath(instrumentPath));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList SimInstrument::files() const
{
    const QString root = hostPath(QStringLiteral("/F0:/"));
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(root).relativeFilePath(it.next()));
    found.sort();
    return found;
}

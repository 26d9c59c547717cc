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

SimFleet StartSharingPorts(const QList<QStringList> &options, QString &error)
{
    constexpr int Attempts = 5;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        SimFleet sims;
        bool started = true;
        for (qsizetype i = 0; i < options.size() && started; ++i) {
            QStringList arguments{QStringLiteral("--host"), QStringLiteral("127.0.0.%1").arg(i + 2)};
            if (!sims.empty())
                arguments << QStringLiteral("--cmd-port") << QString::number(sims[0]->cmdPort())
                          << QStringLiteral("--ftp-port") << QString::number(sims[0]->ftpPort());
            sims.push_back(std::make_unique<SimInstrument>(arguments + options[i]));
            started = sims.back()->start();
            if (!started)
                error = sims.back()->errorString();
        }
        if (started)
            return sims;
        // Only a port taken on a later one's address is worth a new pair.
        if (sims.size() < 2 || !error.contains(QLatin1String("Address already in use")))
            return {};
    }
    return {};
}

#include "Simulator.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace {

constexpr int StartMs = 15000;

} // namespace

Simulator::Simulator(const QStringList &faults)
{
    const QString source = qEnvironmentVariable("VX_SOURCE_DIR");
    const QString python = qEnvironmentVariable("VX_PYTHON", QStringLiteral("/usr/bin/python3"));
    logPath = folder.filePath(QStringLiteral("sim.jsonl"));
    QDir().mkpath(folder.filePath(QStringLiteral("drive")));
    QStringList arguments{source + QStringLiteral("/sim/vx900sim"),
                          QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--cmd-port"), QStringLiteral("0"),
                          QStringLiteral("--ftp-port"), QStringLiteral("0"),
                          QStringLiteral("--drive"), folder.filePath(QStringLiteral("drive")),
                          QStringLiteral("--max-seconds"), QStringLiteral("120"),
                          QStringLiteral("--log"), logPath};
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(python, arguments + faults);
    if (!process.waitForStarted(StartMs)) {
        error = QStringLiteral("cannot start %1: %2").arg(python, process.errorString());
        return;
    }
    // One line: "ready cmd=<port> ftp=<port> drive=<folder>".
    while (!process.canReadLine() && process.waitForReadyRead(StartMs)) {
    }
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    const qsizetype driveAt = line.indexOf(QStringLiteral(" drive="));
    const QStringList fields = line.left(driveAt).split(u' ');
    if (driveAt < 0 || fields.size() != 3 || fields[0] != QStringLiteral("ready")) {
        error = QStringLiteral("no ready line from the simulator: '%1'").arg(line);
        return;
    }
    drive = line.mid(driveAt + 7);
    ftpPort = fields[2].section(u'=', 1).toUShort();
    cmdPort = fields[1].section(u'=', 1).toUShort();
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(StartMs)) {
        process.kill();
        process.waitForFinished(StartMs);
    }
}

QString Simulator::local(const QString &instrumentPath) const
{
    // "/F0:/SYSTEM" lives in <drive>/F0:/SYSTEM.
    return drive + instrumentPath;
}

QList<QJsonObject> Simulator::transcript(const QString &chan) const
{
    QList<QJsonObject> records;
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return records;
    while (!log.atEnd()) {
        const QJsonObject record = QJsonDocument::fromJson(log.readLine()).object();
        if (record.value(QStringLiteral("chan")).toString() == chan)
            records.append(record);
    }
    return records;
}

QStringList Simulator::lines(const QString &chan, const QString &dir) const
{
    QStringList texts;
    for (const QJsonObject &record : transcript(chan)) {
        if (record.value(QStringLiteral("dir")).toString() == dir)
            texts.append(record.value(QStringLiteral("text")).toString());
    }
    return texts;
}

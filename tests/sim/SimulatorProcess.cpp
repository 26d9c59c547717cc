#include "SimulatorProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>

namespace {

QString simulatorPython()
{
    const QString fromEnv = qEnvironmentVariable("VX_PYTHON");
    return fromEnv.isEmpty() ? QStringLiteral("/usr/bin/python3") : fromEnv;
}

QString simulatorProgram()
{
    const QString sourceDir = qEnvironmentVariable("VX_SOURCE_DIR");
    if (!sourceDir.isEmpty())
        return sourceDir + QStringLiteral("/sim/vx900sim");
    return QStringLiteral(VX_SIM_PROGRAM);
}

bool parsePort(const QByteArray &field, const QByteArray &key, quint16 &port)
{
    if (!field.startsWith(key))
        return false;
    bool ok = false;
    const uint value = field.mid(key.size()).toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

} // namespace

SimulatorProcess::SimulatorProcess(QStringList extraOptions)
    : options(std::move(extraOptions))
{
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

bool SimulatorProcess::parseReadyLine(const QByteArray &line, quint16 &cmdPort, quint16 &ftpPort,
                                      QString &driveFolder)
{
    QByteArray text = line;
    if (text.endsWith('\n'))
        text.chop(1);
    // The drive comes last and may hold blanks: split only the head.
    const qsizetype driveAt = text.indexOf(" drive=");
    if (!text.startsWith("ready ") || driveAt < 0)
        return false;
    const QList<QByteArray> head = text.left(driveAt).split(' ');
    quint16 cmdValue = 0;
    quint16 ftpValue = 0;
    if (head.size() != 3 || !parsePort(head[1], "cmd=", cmdValue) || !parsePort(head[2], "ftp=", ftpValue))
        return false;
    const QString folder = QString::fromUtf8(text.mid(driveAt + qsizetype(sizeof(" drive=")) - 1));
    if (folder.isEmpty())
        return false;
    cmdPort = cmdValue;
    ftpPort = ftpValue;
    driveFolder = folder;
    return true;
}

bool SimulatorProcess::start(int timeoutMs)
{
    if (process) {
        failure = QStringLiteral("already started");
        return false;
    }
    if (!workDir.isValid()) {
        failure = QStringLiteral("no temporary folder for the transcript");
        return false;
    }
    process = std::make_unique<QProcess>();
    process->setStandardErrorFile(workDir.filePath(QStringLiteral("stderr.txt")));
    // Defaults first: options given later on the command line win.
    QStringList arguments{simulatorProgram(), QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--cmd-port"), QStringLiteral("0"),
                          QStringLiteral("--ftp-port"), QStringLiteral("0"),
                          QStringLiteral("--max-seconds"), QStringLiteral("300"),
                          QStringLiteral("--log"), logPath()};
    arguments += options;
    process->start(simulatorPython(), arguments);

    QDeadlineTimer deadline(timeoutMs);
    QByteArray line;
    while (!deadline.hasExpired()) {
        if (process->canReadLine()) {
            line = process->readLine();
            break;
        }
        if (process->state() == QProcess::NotRunning)
            break;
        process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    if (!parseReadyLine(line, cmd, ftp, driveFolder)) {
        failure = line.isEmpty() ? QStringLiteral("no ready line") : QStringLiteral("bad ready line: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    return true;
}

int SimulatorProcess::stop()
{
    if (!process || process->state() == QProcess::NotRunning) {
        const bool ran = process && process->exitStatus() == QProcess::NormalExit && process->error() != QProcess::FailedToStart;
        return ran ? process->exitCode() : -1;
    }
    process->terminate();
    if (process->waitForFinished(10000) && process->exitStatus() == QProcess::NormalExit)
        return process->exitCode();
    process->kill();
    process->waitForFinished(10000);
    return -1;
}

QString SimulatorProcess::hostPath(const QString &instrumentPath) const
{
    return driveFolder + instrumentPath;
}

QString SimulatorProcess::logPath() const
{
    return workDir.filePath(QStringLiteral("transcript.jsonl"));
}

QString SimulatorProcess::errorString() const
{
    QFile errors(workDir.filePath(QStringLiteral("stderr.txt")));
    QString text = failure;
    if (errors.open(QIODevice::ReadOnly))
        text += QStringLiteral("; simulator said: ") + QString::fromUtf8(errors.readAll());
    return text;
}

QList<QJsonObject> SimulatorProcess::transcript() const
{
    QList<QJsonObject> records;
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            records.append(document.object());
    }
    return records;
}

QStringList SimulatorProcess::lines(const QString &chan, const QString &dir) const
{
    QStringList texts;
    for (const QJsonObject &record : transcript()) {
        if (record.value(QStringLiteral("chan")).toString() == chan
            && record.value(QStringLiteral("dir")).toString() == dir)
            texts.append(record.value(QStringLiteral("text")).toString());
    }
    return texts;
}

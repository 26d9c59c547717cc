#pragma once

#include "support/SimInstrument.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// vxupgrade-cli run to its end against one simulator, answering Yes, with
// its history in `state` and its settings in `state`/config. A run that
// outlasts two minutes is killed and ends with status -1.
struct SimCliRun
{
    int status = -1;
    QString out; // standard output and error, as they came
};

inline SimCliRun runCliOn(const SimInstrument &sim, const QString &state, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VX900_CMD_PORT", QString::number(sim.cmdPort()));
    environment.insert("VX900_FTP_PORT", QString::number(sim.ftpPort()));
    environment.insert("XDG_STATE_HOME", state);
    environment.insert("XDG_CONFIG_HOME", state + "/config");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(VX_CLI_PROGRAM), QStringList{"--ip", "127.0.0.1", "--yes"} + arguments);
    process.closeWriteChannel();
    SimCliRun result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAll());
    return result;
}

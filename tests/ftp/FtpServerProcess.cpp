#include "FtpServerProcess.h"

#include <QDir>
#include <QProcessEnvironment>

FtpServerProcess::FtpServerProcess()
{
    const auto env = QProcessEnvironment::systemEnvironment();
    const QString python = env.value(QStringLiteral("VX_PYTHON"), QStringLiteral("/usr/bin/python3"));
    const QString script = QDir(env.value(QStringLiteral("VX_SOURCE_DIR"), QStringLiteral(VX_SOURCE_DIR_DEFAULT)))
                               .filePath(QStringLiteral("tests/ftp/ftpserver.py"));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(python, {script, root.path()});
    if (!process.waitForStarted(10000)) {
        error = QStringLiteral("cannot start %1: %2").arg(python, process.errorString());
        return;
    }
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000)) {
            error = QStringLiteral("the FTP server did not say its port");
            return;
        }
    }
    port = quint16(process.readLine().trimmed().toUInt());
}

FtpServerProcess::~FtpServerProcess()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.closeWriteChannel(); // the server's signal to leave
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

#include "SignifyTool.h"

#include <QFile>
#include <QProcess>

namespace signify {

QString run(const QStringList &arguments, const QString &folder)
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(QStringLiteral("signify-openbsd"), arguments);
    if (!process.waitForStarted(60000))
        return QStringLiteral("signify-openbsd did not start (./test.sh installs it): ") + process.errorString();
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("signify-openbsd did not end within 60 s");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("signify-openbsd %1: %2")
            .arg(arguments.join(u' '), QString::fromLocal8Bit(process.readAllStandardError()));
    return QString();
}

QString generate(const QString &base)
{
    QFile::remove(base + QStringLiteral(".pub"));
    QFile::remove(base + QStringLiteral(".sec"));
    return run({"-G", "-n", "-c", "vxupgrade test key", "-p", base + ".pub", "-s", base + ".sec"});
}

QString signEmbedded(const QString &secretKey, const QString &message, const QString &signatureFile)
{
    QFile::remove(signatureFile);
    return run({"-S", "-e", "-s", secretKey, "-m", message, "-x", signatureFile});
}

} // namespace signify

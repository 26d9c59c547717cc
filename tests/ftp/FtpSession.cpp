#include "FtpSession.h"

#include <QFile>
#include <QTest>

FtpSession::FtpSession()
    : ftp(std::make_unique<TNMFTP>(nullptr))
{
    ftp->Host = QStringLiteral("127.0.0.1");
    ftp->Port = peer.port();
    ftp->TimeOut = 10000;
    ftp->UserID = QStringLiteral("kirosu");
    ftp->Password = QStringLiteral("tovel4417");
    ftp->OnSuccess = [this](TCmdType t) { log << QStringLiteral("success %1").arg(int(t)); };
    ftp->OnFailure = [this](bool &handled, TCmdType t) {
        log << QStringLiteral("failure %1").arg(int(t));
        handled = handleFailure;
    };
    ftp->OnUnSupportedFunction = [this](TCmdType t) { log << QStringLiteral("unsupported %1").arg(int(t)); };
    ftp->OnAuthenticationFailed = [this](bool &) { log << QStringLiteral("authentication failed"); };
    ftp->OnConnect = [this](QObject *) { log << QStringLiteral("connect"); };
    ftp->OnConnectionFailed = [this](QObject *) { log << QStringLiteral("connection failed"); };
    ftp->OnTransactionStart = [this](QObject *) { log << QStringLiteral("start"); };
    ftp->OnTransactionStop = [this](QObject *) { log << QStringLiteral("stop"); };
}

void FtpSession::logIn()
{
    peer.reply("331 Password required\r\n");
    peer.reply("230 Logged in\r\n");
    const FtpResult loggedIn = ftp->Connect();
    QVERIFY2(loggedIn.Succeeded(), qPrintable(loggedIn.Text()));
    log.clear();
}

QByteArray FtpSession::pattern(qint64 size)
{
    QByteArray bytes(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

QString FtpSession::makeFile(const QString &name, qint64 size)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pattern(size)) != size)
        qFatal("cannot write the test file");
    return path;
}

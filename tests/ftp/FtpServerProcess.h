#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real FTP server of the tests (pyftpdlib through ftpserver.py) on
// 127.0.0.1, an ephemeral port and a temporary root, user kirosu with
// password tovel4417. It ends with this object.
class FtpServerProcess
{
public:
    FtpServerProcess();
    ~FtpServerProcess();

    [[nodiscard]] bool started() const { return port != 0; }
    [[nodiscard]] QString rootPath(const QString &name) const { return root.filePath(name); }

    quint16 port = 0;
    QString error;

private:
    QTemporaryDir root;
    QProcess process;
};

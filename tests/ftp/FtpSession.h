#pragma once

#include "FakeFtpPeer.h"
#include "ftp/TNMFTP.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A TNMFTP wired to a scripted fake peer, with every notification written to
// a log as a short word ("success 14", "failure 9", "unsupported 9",
// "start", "stop", "connect", "connection failed").
struct FtpSession
{
    FtpSession();

    // Scripts USER 331 / PASS 230 and logs in.
    void logIn();
    // A local file of `size` bytes (a repeating pattern) in the session's folder.
    QString makeFile(const QString &name, qint64 size);
    [[nodiscard]] static QByteArray pattern(qint64 size);

    FakeFtpPeer peer;
    std::unique_ptr<TNMFTP> ftp;
    QStringList log;
    bool handleFailure = false; // what the failure handler answers
    QTemporaryDir folder;
};

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class TNMFTP;

// The instrument link: owns the command channel and the FTP client of one
// VX900 and turns their outcomes into the operator's messages. Never shown.
//
// Instrument paths and names are passed as QString and travel as UTF-8
// bytes (local file names on this platform are UTF-8 too). Replies are kept
// as the raw bytes the instrument sent.
class TfrmVX900 : public QObject
{
    Q_OBJECT

public:
    explicit TfrmVX900(QObject *owner);
    ~TfrmVX900() override; // closes the command channel and the FTP connection

    TNMFTP *NMFTP = nullptr; // owned
    bool LastTransferOk = true;

    // Opens the command channel and the FTP connection and checks "*IDN?".
    [[nodiscard]] bool Connect(const QString &address);
    void Disconnect();

    void SendCommand(const QByteArray &command);
    void ReadResponse(QByteArray &reply);

    [[nodiscard]] bool ChangeDirectory(const QString &path);
    [[nodiscard]] bool ChangeSubdirectory(const QString &parent, const QString &name);
    [[nodiscard]] bool HasDirectory(const QString &parent, const QString &name);
    [[nodiscard]] bool MakeDirectory(const QString &parent, const QString &name);
    // Free bytes of the drive; throws EConvertError on a malformed reply.
    [[nodiscard]] qint64 FreeSpace();

    // Uploads one local file; true when it arrived. A failed transfer has
    // shown its box and throws.
    [[nodiscard]] bool UploadFile(const QString &localPath, const QString &remotePath);
};

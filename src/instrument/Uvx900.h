#pragma once

#include "instrument/CommandReply.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class TClientSocket;
class TNMFTP;
enum class TCmdType : int;

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
    // The command channel; its port is 5000 unless the bench setting
    // VX900_CMD_PORT names another.
    std::unique_ptr<TClientSocket> ClientSocket;
    bool LastTransferOk = true;
    // Longest reply line ReadResponse takes, line feed included; a longer
    // one closes the command channel and raises ESockError.
    qsizetype MaxReplyLength = CommandReply::MaxLength;

    // Opens the command channel and the FTP connection and checks "*IDN?".
    [[nodiscard]] bool Connect(const QString &address);
    void Disconnect();

    void SendCommand(const QByteArray &command);
    void ReadResponse(QByteArray &reply);

    // Paths and names holding a double quote or a control character would
    // break the command line's quoting; these operations refuse them (false,
    // nothing written).
    [[nodiscard]] bool ChangeDirectory(const QString &path);
    [[nodiscard]] bool ChangeSubdirectory(const QString &parent, const QString &name);
    [[nodiscard]] bool HasDirectory(const QString &parent, const QString &name);
    [[nodiscard]] bool MakeDirectory(const QString &parent, const QString &name);
    // Free bytes of the drive; throws EConvertError on a malformed reply.
    [[nodiscard]] qint64 FreeSpace();

    // Uploads one local file; true when it arrived. A failed transfer has
    // shown its box and throws.
    [[nodiscard]] bool UploadFile(const QString &localPath, const QString &remotePath);

    // Ends the FTP wait under way (a running transfer first) because the
    // operator asked to stop. The failure that follows is the stop itself,
    // so it is recorded but shows no box; the next Connect clears this.
    void AbortTransfers();

    // The FTP client's notifications: record the outcome, tell the operator.
    void NMFTPSuccess(TCmdType Trans_Type);
    void NMFTPFailure(bool &Handled, TCmdType Trans_Type);
    void NMFTPUnSupportedFunction(TCmdType Trans_Type);
    void NMFTPAuthenticationFailed(bool &Handled);

private:
    bool transfersAborted = false;

    // Reads one entry of the instrument's error queue: true when it is empty.
    [[nodiscard]] bool NoInstrumentError();
};

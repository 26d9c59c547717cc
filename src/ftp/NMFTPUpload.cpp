// The upload of TNMFTP: one local file over a data connection of its own.
#include "TNMFTP.h"

#include "ESockError.h"
#include "FTPException.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <utility>

namespace {

int portField(const QString &field)
{
    bool ok = false;
    const int value = field.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(field));
    if (value < 0 || value > 255)
        throw EConvertError(QStringLiteral("'%1' is not a valid port number part").arg(field));
    return value;
}

// The data port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply.
// The address in it is not used: the data connection goes to the host the
// control connection went to, so a hostile reply cannot point it elsewhere.
int passivePort(const QString &reply)
{
    const QStringList fields = reply.split(QLatin1Char(','));
    if (fields.size() < 6)
        throw EConvertError(QStringLiteral("'%1' is not a valid passive mode reply").arg(reply.trimmed()));
    const QString &last = fields.at(5);
    const qsizetype paren = last.indexOf(QLatin1Char(')'));
    return portField(paren < 0 ? QString() : last.left(paren)) + 256 * portField(fields.at(4));
}

// Leaves the data connection and the transfer lock however the upload ends.
class UploadRelease
{
public:
    explicit UploadRelease(TNMFTP *ftp)
        : ftp(ftp)
    {
        ftp->TransferLock.lock();
    }
    ~UploadRelease()
    {
        if (!ftp)
            return; // destroyed by a handler while the upload waited
        delete ftp->DataSocket;
        ftp->DataSocket = nullptr;
        ftp->TransferLock.unlock();
    }
    UploadRelease(const UploadRelease &) = delete;
    UploadRelease &operator=(const UploadRelease &) = delete;

private:
    QPointer<TNMFTP> ftp;
};

} // namespace

void TNMFTP::Upload(const QString &localFile, const QString &remoteFile)
{
    Canceled = false;
    bool done = false;
    QPointer<TNMFTP> self(this);
    try {
        UploadSteps(localFile, remoteFile, done);
        if (done && OnSuccess)
            OnSuccess(TCmdType::Upload);
    } catch (...) {
        if (!self)
            throw;
        bool handled = false;
        if (OnFailure)
            OnFailure(handled, TCmdType::Upload);
        if (!handled)
            throw;
    }
}

void TNMFTP::RefuseUpload(const QString &replyLine)
{
    if (!OnFailure)
        throw FTPException(replyLine);
    bool handled = false;
    OnFailure(handled, TCmdType::Upload);
    if (!handled)
        throw FTPException(replyLine);
}

void TNMFTP::UploadSteps(const QString &localFile, const QString &remoteFile, bool &done)
{
    const QString storedName = remoteFile.isEmpty() ? QFileInfo(localFile).fileName() : remoteFile;
    RefuseUnsafeText(storedName);
    CheckConnection();
    // A handler that starts a second upload while this one waits would
    // replace the data connection under it.
    if (DataSocket)
        throw FTPException(QStringLiteral("An upload is already running on this connection"));

    UploadRelease release(this);
    if (DataAvailable())
        (void)Read(0);
    DataSocket = new TPowersock(this);
    DataSocket->TimeOut = TimeOut;
    // Opened once: what is opened here to check it before any command is
    // sent is what gets sent.
    QFile file(localFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(localFile, file.errorString()));
    BytesTotal = file.size();
    if (OnPacketSent)
        DataSocket->OnPacketSent = OnPacketSent;

    if (Passive) {
        const QString reply = Transaction(QStringLiteral("PASV"));
        if (ReplyCode >= 500)
            return RefuseUpload(reply);
        DataSocket->Port = passivePort(reply);
        DataSocket->Host = Host;
        DataSocket->Connect();
    } else {
        DataSocket->Port = 0;
        DataSocket->Listen(true);
        const QString reply = Transaction(QStringLiteral("PORT ") + PortAddress() + DataSocket->PortNumberText());
        if (ReplyCode > 300 && ReplyCode < 600)
            return RefuseUpload(reply);
    }

    StatusMessage(1, QStringLiteral("STOR ") + (remoteFile.isEmpty() ? localFile : remoteFile));
    const QString storReply = Transaction(QStringLiteral("STOR ") + storedName);
    if (ReplyCode > 300 && ReplyCode < 600) {
        if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502)
            OnUnSupportedFunction(TCmdType::Upload);
        return RefuseUpload(storReply);
    }

    // A data connection that timed out (never opened, or stopped taking
    // data) leaves the server owing its verdict on STOR, which it may send at
    // any time; a late one would be taken for the answer to the next command.
    // Closing the control connection keeps the dialogue sound.
    const auto closingOnDataTimeOut = [this](auto step) {
        try {
            step();
        } catch (const EAbortError &) {
            throw;
        } catch (const ESockError &) {
            if (DataSocket->TimedOut)
                RequestCloseSocket();
            throw;
        }
    };
    if (!Passive) {
        // Only the server may bring the data connection: anyone else on the
        // network could otherwise take the file.
        DataSocket->AcceptFrom = RemoteAddress();
        closingOnDataTimeOut([this] { DataSocket->ReplaceSocket(DataSocket->Accept()); });
    }
    if (OnTransactionStart)
        OnTransactionStart(this);
    if (!Canceled && !TimedOut)
        closingOnDataTimeOut([&] { DataSocket->SendFile(file); });
    if (OnTransactionStop)
        OnTransactionStop(this);
    // An orderly close delivers every byte sent; the close is what tells the
    // server that the file is complete. The component goes with it, while
    // the server stores the file: closed for good, it opens no fresh socket.
    DataSocket->SetLinger(false, 0);
    delete std::exchange(DataSocket, nullptr);

    // Cancelled before the server's verdict: the file may be incomplete or
    // refused, so this is no success.
    if (Canceled || TimedOut) {
        Canceled = false;
        throw EAbortError(QStringLiteral("Upload aborted"));
    }
    const QByteArray verdict = ReadControlLine();
    const QString verdictLine = QString::fromUtf8(verdict);
    StatusMessage(1, verdictLine.isEmpty() ? storReply : verdictLine);
    // The server's verdict on the stored file: a 4xx or 5xx here (disk full,
    // transfer aborted), or no verdict at all, means the file is not there,
    // whatever was sent. Unlike a refused command it is one failure, so it is
    // raised straight to the upload's failure handler, which notifies once.
    if (verdict.isEmpty())
        throw FTPException(QStringLiteral("Connection closed by the server before the transfer-complete reply"));
    ReadReplyLines(verdictLine);
    const int code = ParseReplyCode(verdict);
    if (code >= 400 && code <= 599)
        throw FTPException(verdictLine);
    done = true;
}

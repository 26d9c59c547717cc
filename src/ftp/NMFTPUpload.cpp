// The upload of TNMFTP: one local file over a data connection of its own.
#include "NMFTPGuarded.h"

#include "DataConnectionScope.h"
#include "FtpReply.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <utility>

FtpResult TNMFTP::Upload(const QString &localFile, const QString &remoteFile, TBytesSent progress)
{
    return Upload(localFile, nullptr, remoteFile, std::move(progress));
}

FtpResult TNMFTP::Upload(QFile &file, const QString &remoteFile, TBytesSent progress)
{
    return Upload(file.fileName(), &file, remoteFile, std::move(progress));
}

FtpResult TNMFTP::Upload(const QString &localFile, QFile *opened, const QString &remoteFile, TBytesSent progress)
{
    Canceled = false;
    QPointer<TNMFTP> self(this);
    FtpResult refusal;
    const FtpResult result = Guarded([&] {
        if (UploadSteps(localFile, opened, remoteFile, std::move(progress), refusal) && OnSuccess)
            OnSuccess(TCmdType::Upload);
    });
    if (result.Succeeded() || !self)
        return result.Succeeded() ? refusal : result;
    // Every failure is notified here, an unhandled refusal for the second
    // time, after the data connection is gone and the lock is left.
    bool handled = false;
    if (OnFailure)
        OnFailure(handled, TCmdType::Upload);
    return result;
}

void TNMFTP::RefuseUpload(const QString &replyLine, FtpResult &refusal)
{
    bool handled = false;
    if (OnFailure)
        OnFailure(handled, TCmdType::Upload);
    if (!handled)
        throw FTPException(replyLine);
    refusal = FtpResult::Failed(FtpResult::Failure::Refused, replyLine);
}

std::optional<QString> TNMFTP::OpenDataRoute()
{
    if (Passive) {
        const QString reply = Transaction(QStringLiteral("PASV"));
        if (FtpReply::RefusesPassive(ReplyCode))
            return reply;
        DataSocket->Port = FtpReply::PassivePort(reply);
        DataSocket->Host = Host;
        DataSocket->Connect();
    } else {
        DataSocket->Port = 0;
        DataSocket->Listen(true);
        const QString reply = Transaction(QStringLiteral("PORT ") + PortAddress() + DataSocket->PortNumberText());
        if (FtpReply::RefusesTransfer(ReplyCode))
            return reply;
    }
    return std::nullopt;
}

void TNMFTP::AcceptDataConnection()
{
    // Only the server may bring the data connection: anyone else on the
    // network could otherwise take the file or feed a listing.
    DataSocket->AcceptOnlyFrom(RemoteAddress());
    DataSocket->ReplaceSocket(DataSocket->Accept());
}

void TNMFTP::PrepareDataSocket(const QString &command)
{
    RefuseUnsafeText(command);
    CheckConnection();
    // A handler that starts a second transfer while this one waits would
    // replace the data connection under it.
    if (DataSocket)
        throw ELocalRefusal(QStringLiteral("An upload is already running on this connection"));
}

bool TNMFTP::UploadSteps(const QString &localFile, QFile *opened, const QString &remoteFile, TBytesSent progress,
                         FtpResult &refusal)
{
    const QString storedName = remoteFile.isEmpty() ? QFileInfo(localFile).fileName() : remoteFile;
    PrepareDataSocket(storedName);
    DataConnectionScope release(this);
    if (DataAvailable())
        (void)Read(0);
    DataSocket = new TPowersock(this);
    DataSocket->TimeOut = TimeOut;
    // Opened once: what is opened here to check it before any command is
    // sent is what gets sent.
    QFile own(localFile);
    QFile &file = opened ? *opened : own;
    if (!opened && !own.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(localFile, own.errorString()));
    BytesTotal = file.size();
    WatchPackets(std::move(progress));

    if (const std::optional<QString> refused = OpenDataRoute()) {
        RefuseUpload(*refused, refusal);
        return false;
    }
    StatusMessage(1, QStringLiteral("STOR ") + (remoteFile.isEmpty() ? localFile : remoteFile));
    const QString storReply = Transaction(QStringLiteral("STOR ") + storedName);
    dialogue.DataCommandSent();
    if (FtpReply::RefusesTransfer(ReplyCode)) {
        if (OnUnSupportedFunction && FtpReply::Unsupported(ReplyCode))
            OnUnSupportedFunction(TCmdType::Upload);
        RefuseUpload(storReply, refusal);
        return false;
    }
    SendFileData(file);
    ReadStoreVerdict(storReply);
    return true;
}

void TNMFTP::WatchPackets(TBytesSent progress)
{
    if (OnPacketSent)
        DataSocket->OnPacketSent = OnPacketSent;
    if (progress) {
        DataSocket->OnPacketSent = [socket = DataSocket, progress = std::move(progress),
                                    component = DataSocket->OnPacketSent](QObject *sender) {
            if (component)
                component(sender);
            progress(socket->BytesSent);
        };
    }
}

void TNMFTP::SendFileData(QFile &file)
{
    // A data connection that timed out (never opened, or stopped taking
    // data) leaves the server owing its verdict on STOR, which it may send at
    // any time; a late one would be taken for the answer to the next command.
    // Closing the control connection keeps the dialogue sound.
    const auto closingOnDataTimeOut = [this](auto step) {
        try {
            step();
        } catch (const ETimeOutError &) {
            RequestCloseSocket();
            throw;
        }
    };
    if (!Passive) {
        closingOnDataTimeOut([this] { AcceptDataConnection(); });
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
}

void TNMFTP::ReadStoreVerdict(const QString &storReply)
{
    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray verdict = ReadControlLine(deadline);
    const QString verdictLine = QString::fromUtf8(verdict);
    StatusMessage(1, verdictLine.isEmpty() ? storReply : verdictLine);
    // The server's verdict on the stored file: a 4xx or 5xx here (disk full,
    // transfer aborted), or no verdict at all, means the file is not there,
    // whatever was sent. Unlike a refused command it is one failure, so it is
    // raised straight to the upload's failure handler, which notifies once.
    if (verdict.isEmpty())
        throw FTPException(QStringLiteral("Connection closed by the server before the transfer-complete reply"));
    ReadReplyRest(verdict, deadline);
    dialogue.BackInStep();
    if (FtpReply::ReportsFailure(ParseReplyCode(verdict)))
        throw FTPException(verdictLine);
}

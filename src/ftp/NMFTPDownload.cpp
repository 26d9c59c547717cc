// RETR, DELE and RMD of TNMFTP: a stored file fetched over a data
// connection of its own, checked against the size the caller learnt from a
// listing; a stored file removed; an empty folder removed.
#include "NMFTPGuarded.h"

#include "DataConnectionScope.h"
#include "FtpReply.h"
#include "platform/Sha256.h"
#include "platform/Sockets.h"

#include <QIODevice>
#include <QScopeGuard>

#include <utility>

TDownloadReply TNMFTP::Download(const QString &remoteFile, qint64 expectedSize, QIODevice &into)
{
    TDownloadReply result;
    result.outcome = Guarded([&] { DownloadSteps(remoteFile, expectedSize, into, result); });
    return result;
}

void TNMFTP::DownloadSteps(const QString &remoteFile, qint64 expectedSize, QIODevice &into, TDownloadReply &result)
{
    const QString command = QStringLiteral("RETR ") + remoteFile;
    Canceled = false;
    PrepareDataSocket(command);
    // A size the listing did not give leaves nothing to check the bytes
    // against: a short file would pass for the whole one.
    if (expectedSize < 0) {
        result.problem = QStringLiteral("its size on the instrument is not known");
        return;
    }

    DataConnectionScope release(this);
    if (const std::optional<QString> refusal = SendDataCommand(command)) {
        result.kind = TDownloadReply::Kind::Refused;
        result.replyLine = refusal->trimmed();
        result.problem = QStringLiteral("the server refused to send it (%1)").arg(result.replyLine);
        return;
    }

    ReadDownloadData(remoteFile, expectedSize, into, result);
    if (!result.problem.isEmpty()) {
        // Stopped reading early: the data connection goes with the scope and
        // the server's verdict (a 426, or a late 226) is still owed, so the
        // next command first brings the replies back in step.
        result.sha256.clear();
        return;
    }
    DataSocket->SetLinger(false, 0);
    delete std::exchange(DataSocket, nullptr);

    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray verdict = ReadControlLine(deadline);
    if (verdict.isEmpty())
        throw EPeerClosed(QStringLiteral("Connection closed by the server before the transfer-complete reply"));
    StatusMessage(1, QString::fromUtf8(verdict));
    ReadReplyRest(verdict, deadline);
    dialogue.BackInStep();
    result.replyLine = QString::fromUtf8(verdict).trimmed();
    if (FtpReply::ReportsFailure(ParseReplyCode(verdict)))
        result.problem = QStringLiteral("the transfer broke off (%1)").arg(result.replyLine);
    else if (result.bytes != expectedSize)
        result.problem = QStringLiteral("%1 bytes came of the %2 listed").arg(result.bytes).arg(expectedSize);
    else
        result.kind = TDownloadReply::Kind::Fetched;
    if (result.kind != TDownloadReply::Kind::Fetched)
        result.sha256.clear();
}

void TNMFTP::ReadDownloadData(const QString &remoteFile, qint64 expectedSize, QIODevice &into, TDownloadReply &result)
{
    platform::Sha256 digest;
    try {
        if (!Passive)
            AcceptDataConnection();
        for (;;) {
            // Each wait for more bytes is bounded by the time-out; the
            // component's timer cancels the read when it fires.
            DataSocket->TimerOn();
            const auto timerOff = qScopeGuard([this] {
                if (DataSocket)
                    DataSocket->TimerOff();
            });
            // Waits for the first byte only, then takes what has come: a
            // wait for a full buffer would stall on the sender's window.
            QByteArray piece;
            try {
                piece = DataSocket->Read(1);
                if (!piece.isEmpty())
                    piece += DataSocket->Read(0);
            } catch (const EAbortError &) {
                throw;
            } catch (const ESockError &) {
                // A connection the server has closed may read as no longer
                // connected rather than at its end, as for a line: the size
                // and the server's verdict decide whether it all came.
                if (DataSocket->LastErrorNo != platform::sock::NotConnected)
                    throw;
            }
            if (piece.isEmpty())
                break;
            // Never more than the listing promised: a server that keeps
            // sending must not fill the local disk.
            if (result.bytes + piece.size() > expectedSize) {
                result.problem = QStringLiteral("the server sent more than the %1 bytes listed").arg(expectedSize);
                return;
            }
            if (into.write(piece) != piece.size()) {
                result.problem = QStringLiteral("the local copy can't be written (%1)").arg(into.errorString());
                return;
            }
            digest.add(piece);
            result.bytes += piece.size();
        }
    } catch (const ESockError &) {
        // As for an upload: a data connection that timed out leaves the
        // server's verdict owed at a time of its choosing; closing the
        // control connection keeps the dialogue sound.
        if (DataSocket && DataSocket->TimedOut) {
            RequestCloseSocket();
            throw ETimeOutError(QStringLiteral("Timed out waiting for the data of %1").arg(remoteFile));
        }
        throw;
    }
    result.sha256 = digest.result();
}

TDeleteReply TNMFTP::DeleteFile(const QString &remoteFile)
{
    return RemoveByCommand(QStringLiteral("DELE ") + remoteFile);
}

TDeleteReply TNMFTP::RemoveFolder(const QString &remoteFolder)
{
    return RemoveByCommand(QStringLiteral("RMD ") + remoteFolder);
}

TDeleteReply TNMFTP::RemoveByCommand(const QString &command)
{
    TDeleteReply result;
    result.outcome = Guarded([&] { result.replyLine = SendForReply(command).trimmed(); });
    if (!result.outcome.Succeeded())
        return result;
    const int code = ReplyCode;
    if (FtpReply::CompletesFileAction(code))
        result.kind = TDeleteReply::Kind::Deleted;
    else if (FtpReply::FileNotFound(code))
        result.kind = TDeleteReply::Kind::NotFound;
    else if (FtpReply::DeclinesCommand(code))
        result.kind = TDeleteReply::Kind::NotImplemented;
    return result;
}

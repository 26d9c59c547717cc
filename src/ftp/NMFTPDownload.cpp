// RETR and DELE of TNMFTP: a stored file fetched over a data connection of
// its own, checked against the size the caller learnt from a listing, and a
// stored file removed.
#include "TNMFTP.h"

#include "DataConnectionScope.h"
#include "ESockError.h"
#include "FTPException.h"
#include "platform/Sha256.h"
#include "platform/Sockets.h"

#include <QIODevice>
#include <QScopeGuard>

#include <algorithm>
#include <utility>

TDownloadReply TNMFTP::Download(const QString &remoteFile, qint64 expectedSize, QIODevice &into)
{
    TDownloadReply result;
    const QString command = QStringLiteral("RETR ") + remoteFile;
    RefuseUnsafeText(command);
    Canceled = false;
    CheckConnection();
    if (DataSocket)
        throw FTPException(QStringLiteral("An upload is already running on this connection"));
    // A size the listing did not give leaves nothing to check the bytes
    // against: a short file would pass for the whole one.
    if (expectedSize < 0) {
        result.problem = QStringLiteral("its size on the instrument is not known");
        return result;
    }

    DataConnectionScope release(this);
    if (DataAvailable())
        (void)Read(0);
    DataSocket = new TPowersock(this);
    DataSocket->TimeOut = TimeOut;
    std::optional<QString> refusal = OpenDataRoute();
    if (!refusal) {
        StatusMessage(1, command);
        const QString reply = Transaction(command);
        if (ReplyCode > 300 && ReplyCode < 600)
            refusal = reply;
    }
    if (refusal) {
        result.kind = TDownloadReply::Kind::Refused;
        result.replyLine = refusal->trimmed();
        result.problem = QStringLiteral("the server refused to send it (%1)").arg(result.replyLine);
        return result;
    }

    // As for an upload: a data connection that timed out leaves the server
    // owing its verdict, which would be read as the next command's reply.
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
                RequestCloseSocket();
                return result;
            }
            if (into.write(piece) != piece.size()) {
                result.problem = QStringLiteral("the local copy can't be written (%1)").arg(into.errorString());
                RequestCloseSocket();
                return result;
            }
            digest.add(piece);
            result.bytes += piece.size();
        }
    } catch (const EAbortError &) {
        if (DataSocket && DataSocket->TimedOut) {
            RequestCloseSocket();
            throw ESockError(QStringLiteral("Timed out waiting for the data of %1").arg(remoteFile));
        }
        throw;
    } catch (const ESockError &) {
        if (DataSocket && DataSocket->TimedOut)
            RequestCloseSocket();
        throw;
    }
    DataSocket->SetLinger(false, 0);
    delete std::exchange(DataSocket, nullptr);

    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray verdict = ReadControlLine(deadline);
    if (verdict.isEmpty())
        throw ESockError(QStringLiteral("Connection closed by the server before the transfer-complete reply"));
    StatusMessage(1, QString::fromUtf8(verdict));
    ReadReplyRest(verdict, deadline);
    result.replyLine = QString::fromUtf8(verdict).trimmed();
    const int code = ParseReplyCode(verdict);
    if (code >= 400 && code <= 599)
        result.problem = QStringLiteral("the transfer broke off (%1)").arg(result.replyLine);
    else if (result.bytes != expectedSize)
        result.problem = QStringLiteral("%1 bytes came of the %2 listed").arg(result.bytes).arg(expectedSize);
    else {
        result.kind = TDownloadReply::Kind::Fetched;
        result.sha256 = digest.result();
    }
    return result;
}

TDeleteReply TNMFTP::DeleteFile(const QString &remoteFile)
{
    TDeleteReply result;
    result.replyLine = SendForReply(QStringLiteral("DELE ") + remoteFile).trimmed();
    switch (ReplyCode) {
    case 250:
        result.kind = TDeleteReply::Kind::Deleted;
        break;
    case 550:
        result.kind = TDeleteReply::Kind::NotFound;
        break;
    case 500:
    case 501:
    case 502:
    case 504:
        result.kind = TDeleteReply::Kind::NotImplemented;
        break;
    default:
        break;
    }
    return result;
}

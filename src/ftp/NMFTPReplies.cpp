// Replies of TNMFTP: one command's whole reply within its deadline, and the
// dialogue brought back in step after a data command that owed replies.
#include "NMFTPGuarded.h"

#include "FtpReply.h"

#include <QPointer>
#include <QScopeGuard>

#include <algorithm>

namespace {

// What a reply that never came looks like to the dialogue: the server
// closed the control connection (or it was never there).
const QString closedByServer = QStringLiteral("Connection closed by the server");

} // namespace

template <typename Wait>
auto TNMFTP::ClosingOnTimeOut(Wait wait)
{
    QPointer<TNMFTP> self(this);
    try {
        return wait();
    } catch (const ETimeOutError &) {
        // A reply that did not come in time leaves the dialogue out of step:
        // a late reply would be taken for the answer to the next command.
        // Closing the control connection leaves the component ready for a
        // fresh Connect, and no QUIT waits a second bound for it.
        if (self)
            RequestCloseSocket();
        throw;
    }
}

QDeadlineTimer TNMFTP::ReplyDeadline() const
{
    return TimeOut > 0 ? QDeadlineTimer(TimeOut) : QDeadlineTimer(QDeadlineTimer::Forever);
}

QByteArray TNMFTP::ReadControlLine(const QDeadlineTimer &deadline)
{
    return ClosingOnTimeOut([&] {
        // A server that sends one more line of a reply every few seconds, or
        // lines without end, must not keep the client waiting past the
        // deadline: each line's wait gets only the time left.
        if (deadline.hasExpired()) {
            TimedOut = true;
            throw ETimeOutError(QStringLiteral("Timed out waiting for a reply"));
        }
        QPointer<TNMFTP> self(this);
        const int setting = TimeOut;
        const auto restore = qScopeGuard([&] {
            if (self)
                TimeOut = setting;
        });
        if (!deadline.isForever())
            TimeOut = int(std::max<qint64>(1, deadline.remainingTime()));
        return ReadLn();
    });
}

QString TNMFTP::Transaction(const QString &command)
{
    return ReplyTo(command, nullptr);
}

QString TNMFTP::ReplyTo(const QString &command, QList<QByteArray> *lines)
{
    RefuseUnsafeText(command);
    if (dialogue.RepliesOwed())
        BringRepliesInStep();
    const QDeadlineTimer deadline = ReplyDeadline();
    const QString first = ClosingOnTimeOut([&] { return TPowersock::Transaction(command); });
    // An empty reply is the server's close, not a reply: taking it as one
    // would report a command as done that the server never answered.
    if (first.isEmpty())
        throw EPeerClosed(closedByServer);
    if (lines)
        lines->append(first.toUtf8());
    ReadReplyRest(first.toUtf8(), deadline, lines);
    return first;
}

void TNMFTP::BringRepliesInStep()
{
    dialogue.BackInStep();
    const QDeadlineTimer deadline = ReplyDeadline();
    StatusMessage(1, QStringLiteral("NOOP"));
    QByteArray line = ClosingOnTimeOut([&] { return TPowersock::Transaction(QStringLiteral("NOOP")); }).toUtf8();
    for (int stray = 0;; ++stray) {
        if (line.isEmpty())
            throw EPeerClosed(closedByServer);
        ReadReplyRest(line, deadline);
        if (FtpReply::AnswersNoop(FtpReply::CodeOf(line)))
            return;
        if (stray == MaxStrayReplies) {
            RequestCloseSocket();
            throw FTPException(QStringLiteral("The FTP server's replies are out of step with its commands"));
        }
        line = ReadControlLine(deadline);
        if (!line.isEmpty())
            StatusMessage(1, QString::fromUtf8(line));
    }
}

void TNMFTP::ReadReplyLines(const QString &firstLine)
{
    ReadReplyRest(firstLine.toUtf8(), ReplyDeadline());
}

void TNMFTP::ReadReplyRest(const QByteArray &firstLine, const QDeadlineTimer &deadline, QList<QByteArray> *lines)
{
    QPointer<TNMFTP> self(this);
    try {
        FtpReply::Assembler reply(firstLine);
        while (!reply.Complete()) {
            const QByteArray next = ReadControlLine(deadline);
            if (next.isEmpty())
                break; // closed in the middle of a reply: the reply ends there
            StatusMessage(1, QString::fromUtf8(next));
            reply.Add(next);
            if (lines)
                lines->append(next);
        }
    } catch (const FTPException &) {
        // The rest of the reply is still on its way and would be taken for
        // the answer to the next command.
        if (self)
            RequestCloseSocket();
        throw;
    }
}

QString TNMFTP::SendForReply(const QString &command)
{
    RefuseUnsafeText(command);
    Canceled = false;
    CheckConnection();
    StatusMessage(1, command);
    if (DataAvailable())
        (void)Read(0); // stale input, e.g. a late reply of an earlier command
    return Transaction(command);
}

// A CR or LF inside a command would end it early and let the rest of the
// text run as a command of its own; a NUL would cut it short. Such text is
// refused before anything is sent.
void TNMFTP::RefuseUnsafeText(const QString &text)
{
    if (text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0)))
        throw ELocalRefusal(QStringLiteral("Refused to send an FTP command or file name containing CR, LF or NUL"));
    // The command and its line end must fit one send of the working buffer.
    if (text.toUtf8().size() > TPowersock::WorkingBufferSize - 3)
        throw ELocalRefusal(QStringLiteral("Refused to send an FTP command longer than %1 bytes")
                                .arg(TPowersock::WorkingBufferSize - 3));
}

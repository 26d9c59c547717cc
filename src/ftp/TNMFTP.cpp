#include "TNMFTP.h"

#include "ESockError.h"
#include "FTPException.h"
#include "FtpReply.h"

#include <QPointer>
#include <QScopeGuard>

#include <algorithm>

namespace {

// What a reply that never came looks like to the dialogue: the server
// closed the control connection (or it was never there).
const QString closedByServer = QStringLiteral("Connection closed by the server");

bool isRefusal(int code)
{
    return code > 400 && code < 600;
}

TCmdType commandKind(const QString &command)
{
    const QString verb = command.section(QLatin1Char(' '), 0, 0) + QLatin1Char(' ');
    if (verb == QLatin1String("CWD "))
        return TCmdType::ChangeDir;
    if (verb == QLatin1String("DELE "))
        return TCmdType::Delete;
    if (verb == QLatin1String("MKD "))
        return TCmdType::MakeDir;
    if (verb == QLatin1String("RMD "))
        return TCmdType::RemoveDir;
    if (command == QLatin1String("PWD"))
        return TCmdType::CurrentDir;
    return TCmdType::DoCommand;
}

} // namespace

// A CR or LF inside a command would end it early and let the rest of the
// text run as a command of its own; a NUL would cut it short. Such text is
// refused before anything is sent.
void TNMFTP::RefuseUnsafeText(const QString &text)
{
    if (text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0)))
        throw FTPException(QStringLiteral("Refused to send an FTP command or file name containing CR, LF or NUL"));
    // The command and its line end must fit one send of the working buffer.
    if (text.toUtf8().size() > TPowersock::WorkingBufferSize - 3)
        throw FTPException(QStringLiteral("Refused to send an FTP command longer than %1 bytes")
                               .arg(TPowersock::WorkingBufferSize - 3));
}

TNMFTP::TNMFTP(QObject *owner)
    : TPowersock(owner)
{
    Port = 21;
    Vendor = 2411;
    OnDataArrival = [](QObject *) {};
}

TNMFTP::~TNMFTP()
{
    Cancel();
}

template <typename Wait>
auto TNMFTP::ClosingOnTimeOut(Wait wait)
{
    QPointer<TNMFTP> self(this);
    try {
        return wait();
    } catch (const EAbortError &) {
        throw;
    } catch (const ESockError &) {
        // A reply that did not come in time leaves the dialogue out of step:
        // a late reply would be taken for the answer to the next command.
        // Closing the control connection leaves the component ready for a
        // fresh Connect.
        if (self && TimedOut)
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
            throw ESockError(QStringLiteral("Timed out waiting for a reply"));
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
    if (repliesOwed)
        BringRepliesInStep();
    const QDeadlineTimer deadline = ReplyDeadline();
    const QString first = ClosingOnTimeOut([&] { return TPowersock::Transaction(command); });
    // An empty reply is the server's close, not a reply: taking it as one
    // would report a command as done that the server never answered.
    if (first.isEmpty())
        throw ESockError(closedByServer);
    if (lines)
        lines->append(first.toUtf8());
    ReadReplyRest(first.toUtf8(), deadline, lines);
    return first;
}

void TNMFTP::BringRepliesInStep()
{
    repliesOwed = false;
    const QDeadlineTimer deadline = ReplyDeadline();
    StatusMessage(1, QStringLiteral("NOOP"));
    QByteArray line = ClosingOnTimeOut([&] { return TPowersock::Transaction(QStringLiteral("NOOP")); }).toUtf8();
    for (int stray = 0;; ++stray) {
        if (line.isEmpty())
            throw ESockError(closedByServer);
        ReadReplyRest(line, deadline);
        if (FtpReply::AnswersNoop(ParseReplyCode(line)))
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

void TNMFTP::RefuseLogin(const QString &replyLine)
{
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(replyLine);
}

void TNMFTP::Connect()
{
    Canceled = false;
    if (Connected)
        return;
    ClearInput();
    TPowersock::Connect();
    repliesOwed = false; // a fresh connection owes nothing

    QPointer<TNMFTP> self(this);
    try {
        ReadGreeting();
        FirewallLogIn();
        LogIn();
        if (OnConnect)
            OnConnect(this);
    } catch (...) {
        if (!self)
            throw;
        try {
            Disconnect();
        } catch (...) {
            // the failure that ended the log-in is the one to report
        }
        StatusMessage(1, QStringLiteral("Disconnected"));
        throw;
    }
}

void TNMFTP::ReadGreeting()
{
    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray greeting = ReadControlLine(deadline);
    if (greeting.isEmpty())
        RefuseLogin(closedByServer);
    const QString first = QString::fromUtf8(greeting);
    StatusMessage(1, first);
    ReadReplyRest(greeting, deadline);
    ReplyCode = ParseReplyCode(greeting);
    if (ReplyCode > 400)
        RefuseLogin(first);
}

void TNMFTP::FirewallLogIn()
{
    if (FWAuthenticate) {
        Transaction(QStringLiteral("USER ") + FWUserID);
        if (isRefusal(ReplyCode))
            RefuseLogin(LastReply);
        if (ReplyCode == 331) {
            StatusMessage(1, QStringLiteral("PASS "));
            Transaction(QStringLiteral("PASS ") + FWPassword);
            if (isRefusal(ReplyCode))
                RefuseLogin(LastReply);
        }
    }
}

void TNMFTP::LogIn()
{
    if ((UserID.isEmpty() || Password.isEmpty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(handled);
    }

    if (!Proxy.isEmpty()) {
        switch (FirewallType) {
        case TFirewallType::FTUser:
            Transaction(QStringLiteral("USER ") + UserID + QLatin1Char('@') + Host);
            break;
        case TFirewallType::FtOpen:
            Transaction(QStringLiteral("OPEN ") + Host);
            break;
        case TFirewallType::FtSite:
            Transaction(QStringLiteral("SITE ") + Host);
            break;
        }
    }
    if (Proxy.isEmpty() || FirewallType != TFirewallType::FTUser) {
        StatusMessage(1, QStringLiteral("USER ") + UserID);
        Transaction(QStringLiteral("USER ") + UserID);
        if (isRefusal(ReplyCode))
            RefuseLogin(LastReply);
    }
    if (ReplyCode == 331) {
        StatusMessage(1, QStringLiteral("PASS "));
        Transaction(QStringLiteral("PASS ") + Password);
        if (isRefusal(ReplyCode))
            RefuseLogin(LastReply);
    }
}

void TNMFTP::Disconnect()
{
    Canceled = false;
    if (!Connected)
        return;
    StatusMessage(1, QStringLiteral("QUIT"));
    Vendor = 2411;
    QPointer<TNMFTP> self(this);
    QString reply;
    try {
        if (DataAvailable())
            (void)Read(0);
        reply = Transaction(QStringLiteral("QUIT"));
    } catch (const ESockError &e) {
        if (!self)
            throw;
        TPowersock::Disconnect();
        // A server that closes at QUIT without a word has done what was asked.
        if (e.Message == closedByServer)
            return;
        throw;
    } catch (...) {
        if (self)
            TPowersock::Disconnect();
        throw;
    }
    TPowersock::Disconnect();
    if (ReplyCode > 300 && ReplyCode < 600)
        throw FTPException(reply);
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

void TNMFTP::DoCommand(const QString &command)
{
    const TCmdType kind = commandKind(command);
    const QString reply = SendForReply(command);
    if (ReplyCode >= 400 && ReplyCode <= 599) {
        if (OnUnSupportedFunction && ReplyCode >= 500 && ReplyCode <= 502)
            OnUnSupportedFunction(kind);
        if (!OnFailure)
            throw FTPException(reply);
        bool handled = false;
        OnFailure(handled, kind);
        if (!handled)
            throw FTPException(reply);
        return;
    }
    if (OnSuccess)
        OnSuccess(kind);
}

void TNMFTP::SetTransferType(TTransferType transferType)
{
    switch (transferType) {
    case TTransferType::Ascii:
        DoCommand(QStringLiteral("TYPE A"));
        break;
    case TTransferType::Image:
        DoCommand(QStringLiteral("TYPE I"));
        break;
    case TTransferType::Local8:
        DoCommand(QStringLiteral("TYPE L 8"));
        break;
    }
}

void TNMFTP::Abort()
{
    if (DataSocket)
        DataSocket->Cancel();
}

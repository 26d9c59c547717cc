// TNMFTP: the log-in, raw commands, the transfer type and QUIT.
#include "NMFTPGuarded.h"

#include "FtpReply.h"

#include <QPointer>

namespace {

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

FtpResult TNMFTP::Connect()
{
    Canceled = false;
    if (Connected)
        return FtpResult::Ok();
    const FtpResult connected = Guarded([this] {
        ClearInput();
        TPowersock::Connect();
    });
    if (!connected.Succeeded())
        return connected;
    dialogue.Start(); // a new connection owes nothing and has declined nothing
    return LogIn();
}

FtpResult TNMFTP::LogIn()
{
    QPointer<TNMFTP> self(this);
    const FtpResult loggedIn = Guarded([this] {
        ReadGreeting();
        FirewallLogIn();
        SendUserAndPassword();
        if (OnConnect)
            OnConnect(this);
    });
    if (loggedIn.Succeeded() || !self)
        return loggedIn;
    // The failure that ended the log-in is the one to report, not the QUIT's.
    (void)Disconnect();
    if (self)
        StatusMessage(1, QStringLiteral("Disconnected"));
    return loggedIn;
}

void TNMFTP::RefuseLogin(const QString &replyLine)
{
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    throw FTPException(replyLine);
}

void TNMFTP::ReadGreeting()
{
    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray greeting = ReadControlLine(deadline);
    if (greeting.isEmpty())
        RefuseLogin(QStringLiteral("Connection closed by the server"));
    const QString first = QString::fromUtf8(greeting);
    StatusMessage(1, first);
    ReadReplyRest(greeting, deadline);
    ReplyCode = ParseReplyCode(greeting);
    if (FtpReply::RefusesGreeting(ReplyCode))
        RefuseLogin(first);
}

void TNMFTP::FirewallLogIn()
{
    if (!FWAuthenticate)
        return;
    Transaction(QStringLiteral("USER ") + FWUserID);
    if (FtpReply::RefusesLogIn(ReplyCode))
        RefuseLogin(LastReply);
    if (FtpReply::AsksForPassword(ReplyCode)) {
        StatusMessage(1, QStringLiteral("PASS "));
        Transaction(QStringLiteral("PASS ") + FWPassword);
        if (FtpReply::RefusesLogIn(ReplyCode))
            RefuseLogin(LastReply);
    }
}

void TNMFTP::SendProxyGreeting()
{
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

void TNMFTP::SendUserAndPassword()
{
    if ((UserID.isEmpty() || Password.isEmpty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(handled);
    }
    if (!Proxy.isEmpty())
        SendProxyGreeting(); // its reply is not examined
    if (Proxy.isEmpty() || FirewallType != TFirewallType::FTUser) {
        StatusMessage(1, QStringLiteral("USER ") + UserID);
        Transaction(QStringLiteral("USER ") + UserID);
        if (FtpReply::RefusesLogIn(ReplyCode))
            RefuseLogin(LastReply);
    }
    if (FtpReply::AsksForPassword(ReplyCode)) {
        StatusMessage(1, QStringLiteral("PASS "));
        Transaction(QStringLiteral("PASS ") + Password);
        if (FtpReply::RefusesLogIn(ReplyCode))
            RefuseLogin(LastReply);
    }
}

FtpResult TNMFTP::Disconnect()
{
    Canceled = false;
    if (!Connected)
        return FtpResult::Ok();
    StatusMessage(1, QStringLiteral("QUIT"));
    Vendor = 2411;
    QPointer<TNMFTP> self(this);
    QString reply;
    FtpResult quit = Guarded([&] {
        if (DataAvailable())
            (void)Read(0);
        reply = Transaction(QStringLiteral("QUIT"));
    });
    if (!self)
        return quit;
    const int code = ReplyCode;
    const FtpResult closed = Guarded([this] { TPowersock::Disconnect(); });
    // A server that closes at QUIT without a word has done what was asked.
    if (quit.Kind() == FtpResult::Failure::Closed)
        quit = FtpResult::Ok();
    if (!quit.Succeeded())
        return quit;
    if (FtpReply::RefusesQuit(code))
        return FtpResult::Failed(FtpResult::Failure::Refused, reply);
    return closed;
}

FtpResult TNMFTP::DoCommand(const QString &command)
{
    const TCmdType kind = commandKind(command);
    QString reply;
    // A socket failure is no refusal: it is returned without a notification.
    const FtpResult sent = Guarded([&] { reply = SendForReply(command); });
    if (!sent.Succeeded())
        return sent;
    const int code = ReplyCode;
    if (!FtpReply::FailsCommand(code)) {
        if (OnSuccess)
            OnSuccess(kind);
        return FtpResult::Ok();
    }
    if (OnUnSupportedFunction && FtpReply::Unsupported(code))
        OnUnSupportedFunction(kind);
    if (OnFailure) {
        bool handled = false;
        OnFailure(handled, kind);
    }
    return FtpResult::Failed(FtpResult::Failure::Refused, reply);
}

FtpResult TNMFTP::SetTransferType(TTransferType transferType)
{
    switch (transferType) {
    case TTransferType::Ascii:
        return DoCommand(QStringLiteral("TYPE A"));
    case TTransferType::Image:
        return DoCommand(QStringLiteral("TYPE I"));
    case TTransferType::Local8:
        return DoCommand(QStringLiteral("TYPE L 8"));
    }
    return FtpResult::Ok();
}

void TNMFTP::Abort()
{
    if (DataSocket)
        DataSocket->Cancel();
}

#include "TPowersock.h"

#include "ESockError.h"
#include "FtpReply.h"
#include "SocketErrorTable.h"
#include "SocketEventSource.h"
#include "TThreadTimer.h"
#include "platform/Sockets.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QPointer>

#include <sys/resource.h>

namespace sock = platform::sock;

namespace {

// Live components in the process: the first one describes the socket
// library in its SocketInfo.
int liveComponents = 0;

QStringList describeSocketLibrary()
{
    rlimit files{};
    const auto maxSockets = getrlimit(RLIMIT_NOFILE, &files) == 0 ? qulonglong(files.rlim_cur) : 1024ull;
    return {
        QStringLiteral("Version= 1.1"),
        QStringLiteral("High Version= 2.2"),
        QStringLiteral("Description= POSIX sockets on the Qt event loop"),
        QStringLiteral("System= Running"),
        QStringLiteral("Max Sockets= ") + QString::number(maxSockets),
        QStringLiteral("Max Udp pack size= 65507"),
    };
}

} // namespace

TPowersock::TPowersock(QObject *owner)
    : QObject(owner)
    , workingBuffer(std::make_unique_for_overwrite<std::array<char, WorkingBufferSize + 1>>())
{
    StatusMessage(8, QStringLiteral("Create"));
    events = new SocketEventSource(this, [this](int code, std::uint32_t param) {
        HandleSocketMessage(code, param);
    });
    timer = new TThreadTimer(this);
    timer->SetEnabled(false);
    timer->SetOnTimer([this](QObject *) { TimerTriggered(); });
    InitSockets();
}

TPowersock::~TPowersock()
{
    // The owner's handlers may already be half gone when its children are
    // destroyed, so destruction reports its steps without calling OnStatus.
    destroying = true;
    StatusMessage(8, QStringLiteral("Destroy"));
    TPowersock::Abort();
    if (lookupId != -1)
        QHostInfo::abortHostLookup(lookupId);
    timer->SetEnabled(false);
    try {
        RequestCloseSocket();
    } catch (const ESockError &) {
        // nothing more can be done with a socket that would not close
    }
    --liveComponents;
}

void TPowersock::InitSockets()
{
    StatusMessage(8, QStringLiteral("Initializing Winsock"));
    if (++liveComponents == 1)
        SocketInfo = describeSocketLibrary();
    try {
        OpenFreshSocket(true);
    } catch (const Exception &) {
        --liveComponents;
        throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
    }
}

void TPowersock::OpenFreshSocket(bool abortiveClose)
{
    const int fd = sock::CreateTcpSocket();
    if (fd == sock::InvalidSocket) {
        CheckSocketError(sock::WouldBlock);
        throw ESockError(SocketErrorText(sock::LastSocketError()));
    }
    // The control connection is reset on close on purpose: after QUIT nothing
    // more is expected from it. Data connections switch this off before closing.
    if (abortiveClose)
        (void)sock::SetLinger(fd, true, 0);
    socketHandle = fd;
    connectAttempted = false;
    events->Attach(fd);
}

void TPowersock::StatusMessage(std::uint8_t level, const QString &text)
{
    if (level > ReportLevel)
        return;
    Status = text;
    if (destroying || !OnStatus)
        return;
    try {
        OnStatus(this, text);
    } catch (...) {
        // a progress display must not break the operation it reports on
    }
}

void TPowersock::PumpMessages(bool wait)
{
    QPointer<TPowersock> self(this);
    QCoreApplication::processEvents(wait ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents
                                         : QEventLoop::AllEvents);
    if (!self)
        throw EAbortError(QStringLiteral("Socket component destroyed during a wait"));
}

void TPowersock::Cancel()
{
    StatusMessage(8, QStringLiteral("Canceling"));
    Canceled = true;
}

void TPowersock::Abort()
{
    StatusMessage(8, QStringLiteral("Abort"));
    Cancel();
}

void TPowersock::Disconnect()
{
    StatusMessage(8, QStringLiteral("Disconnecting"));
    RequestCloseSocket();
}

void TPowersock::CheckConnection()
{
    StatusMessage(8, QStringLiteral("Checking Connection"));
    bool secondPass = false;
    while (!Connected) {
        if (secondPass || !OnConnectionRequired)
            throw ENotConnected(QStringLiteral("Not Connected"));
        bool handled = false;
        OnConnectionRequired(handled);
        if (!handled)
            throw ENotConnected(QStringLiteral("Not Connected"));
        secondPass = true;
    }
}

QString TPowersock::ErrorMessage(std::uint16_t errorNo)
{
    StatusMessage(8, QStringLiteral("Looking Up Error Message"));
    return SocketErrorText(errorNo);
}

QString TPowersock::CheckSocketError(std::uint16_t ignoredError)
{
    LastErrorNo = sock::LastSocketError();
    if (LastErrorNo != ignoredError && LastErrorNo > 10000) {
        const QString message = ErrorMessage(std::uint16_t(LastErrorNo));
        if (OnError)
            OnError(this, std::uint16_t(LastErrorNo), message);
        throw ESockError(message);
    }
    return {};
}

void TPowersock::RequestCloseSocket()
{
    StatusMessage(4, QStringLiteral("Request Close Socket"));
    Connected = false;
    if (socketHandle == sock::InvalidSocket)
        return;
    events->Detach();
    const int fd = socketHandle;
    socketHandle = sock::InvalidSocket;
    if (!sock::CloseSocket(fd))
        CheckSocketError(sock::WouldBlock);
    if (destroying)
        return;
    if (OnDisconnect)
        OnDisconnect(this);
    // The handler may have connected again already.
    if (socketHandle == sock::InvalidSocket)
        OpenFreshSocket(false);
}

void TPowersock::ReplaceSocket(int acceptedSocket)
{
    events->Detach();
    if (socketHandle != sock::InvalidSocket)
        (void)sock::CloseSocket(socketHandle);
    socketHandle = acceptedSocket;
    connectAttempted = true;
    events->Attach(acceptedSocket);
    events->WatchData();
}

void TPowersock::SetLinger(bool on, int seconds)
{
    if (!sock::SetLinger(socketHandle, on, seconds))
        CheckSocketError(sock::WouldBlock);
}

QString TPowersock::RemoteAddress() const
{
    return QString::fromLatin1(sock::DottedAddress(remoteAddress));
}

QString TPowersock::PortAddress()
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (!sock::LocalName(socketHandle, address, port))
        CheckSocketError(sock::WouldBlock);
    return QString::fromLatin1(sock::DottedAddress(address)).replace('.', ',');
}

QString TPowersock::PortNumberText()
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (!sock::LocalName(socketHandle, address, port))
        CheckSocketError(sock::WouldBlock);
    return QString::asprintf(",%d,%d", port >> 8, port & 0xFF);
}

std::int16_t TPowersock::ParseReplyCode(const QByteArray &line)
{
    return FtpReply::ParseReplyCode(line);
}

QString TPowersock::Transaction(const QString &command)
{
    StatusMessage(8, QStringLiteral("Transaction"));
    ReplyCode = 0;
    Writeln(command.toUtf8());
    const QByteArray line = ReadLn();
    LastReply = QString::fromUtf8(line);
    if (!line.isEmpty()) {
        StatusMessage(1, LastReply);
        ReplyCode = ParseReplyCode(line);
    }
    return LastReply;
}

void TPowersock::TimerOn()
{
    StatusMessage(8, QStringLiteral("Timer On"));
    TimedOut = false;
    timer->SetInterval(TimeOut > 0 ? std::uint32_t(TimeOut) : 0u);
    timer->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    StatusMessage(8, QStringLiteral("Timer Off"));
    timer->SetEnabled(false);
}

void TPowersock::TimerTriggered()
{
    StatusMessage(8, QStringLiteral("Timer Triggered"));
    TimerOff(); // the time-out fires once
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

void TPowersock::HandleSocketMessage(int code, std::uint32_t param)
{
    LastEventOk = (param >> 16) == 0;
    const auto kind = std::uint16_t(param & 0xFFFF);
    // A failing handler must not end the wait that delivered the event.
    try {
        if (code == SocketEventSource::SocketEventCode) {
            switch (kind) {
            case SocketEventSource::Readable:
                if (OnDataArrival)
                    OnDataArrival(this);
                break;
            case SocketEventSource::IncomingConnection:
                Connected = true;
                if (OnAccept)
                    OnAccept(this);
                break;
            case SocketEventSource::ConnectCompleted:
                if (LastEventOk) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case SocketEventSource::Closed:
                if (!DataAvailable())
                    RequestCloseSocket();
                break;
            default:
                break;
            }
        } else if (code == SocketEventSource::LookupOrListenerCode) {
            AsyncDone = true;
            if (kind == SocketEventSource::IncomingConnection) {
                Connected = true;
                if (!destroying && OnDisconnect)
                    OnDisconnect(this);
            }
        }
    } catch (...) {
    }
}

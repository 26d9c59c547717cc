// Host resolution and connecting of TPowersock.
#include "TPowersock.h"
#include "TimerOffOnExit.h"

#include "ESockError.h"
#include "SocketEventSource.h"
#include "platform/Sockets.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QtEndian>

namespace sock = platform::sock;

void TPowersock::ResolveHost()
{
    StatusMessage(8, QStringLiteral("Resolve Host"));
    const QString name = Proxy.isEmpty() ? Host : Proxy;
    if (const std::optional<std::uint32_t> dotted = sock::ParseDottedAddress(name)) {
        remoteAddress = *dotted;
        return;
    }
    // A resolver reads "127.0.0.010" by the classic rules (127.0.0.8): an
    // address the parser refused must not reach some instrument that way.
    if (sock::LooksNumeric(name))
        throw ESockError(QStringLiteral("Host Lookup Failed"));

    remoteAddress = 0;
    TimerOn();
    {
        TimerOffOnExit timerOff{this};
        AsyncDone = false;
        lookupId = QHostInfo::lookupHost(name, this, [this](const QHostInfo &info) {
            std::uint32_t address = 0;
            int error = info.error() == QHostInfo::NoError ? 0 : sock::HostNotFound;
            if (error == 0) {
                error = sock::NoAddressRecord;
                for (const QHostAddress &a : info.addresses()) {
                    if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                        address = qToBigEndian(a.toIPv4Address());
                        error = 0;
                        break;
                    }
                }
            }
            LookupFinished(info.lookupId(), address, error);
        });
        while (!AsyncDone && !TimedOut && !Canceled)
            PumpMessages(true);
    }
    if (lookupId != -1) {
        // A late answer must not complete some later wait.
        QHostInfo::abortHostLookup(lookupId);
        lookupId = -1;
    }
    if (TimedOut)
        throw ETimeOutError(QStringLiteral("Host Lookup Timed Out"));
    if (Canceled)
        throw EAbortError(QStringLiteral("Host Lookup Canceled"));
    if (!LastEventOk)
        throw ESockError(QStringLiteral("Host Lookup Failed"));
    remoteAddress = lookupAddress;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::LookupFinished(int id, std::uint32_t address, int error)
{
    if (id != lookupId)
        return;
    lookupId = -1;
    lookupAddress = address;
    HandleSocketMessage(SocketEventSource::LookupOrListenerCode, std::uint32_t(error) << 16);
}

void TPowersock::Connect()
{
    StatusMessage(8, QStringLiteral("Connecting"));
    Canceled = false;
    if (Connected)
        throw ESockError(QStringLiteral("Already connected"));

    ResolveRemoteHost();

    remotePort = std::uint16_t(Proxy.isEmpty() ? Port : ProxyPort);
    AsyncDone = false;
    LastEventOk = true;
    // A socket that has already tried a connect cannot try again.
    if (socketHandle == sock::InvalidSocket || connectAttempted) {
        events->Detach();
        if (socketHandle != sock::InvalidSocket)
            (void)sock::CloseSocket(socketHandle);
        socketHandle = sock::InvalidSocket;
        OpenFreshSocket(false);
    }
    connectAttempted = true;
    // A command is one small write answered by the peer; with Nagle on, one
    // written before the last is acknowledged waits for a delayed ACK.
    (void)sock::SetNoDelay(socketHandle);
    if (!sock::StartConnect(socketHandle, remoteAddress, remotePort)) {
        CheckSocketError(sock::WouldBlock);
        throw ESockError(ErrorMessage(std::uint16_t(sock::LastSocketError())));
    }
    AwaitConnection();
}

void TPowersock::ResolveRemoteHost()
{
    const auto resolve = [this] {
        try {
            ResolveHost();
        } catch (const EAbortError &) {
            throw; // cancelled, the look-up included
        } catch (const ETimeOutError &) {
            throw;
        } catch (const ESockError &) {
            remoteAddress = 0; // no address: OnInvalidHost may name another host
        }
    };
    resolve();
    int retries = 0;
    while (remoteAddress == 0) {
        if (retries > 0 || !OnInvalidHost)
            throw ESockError(QStringLiteral("Null Remote Address"));
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError(QStringLiteral("Null Remote Address"));
        ++retries;
        resolve();
    }
}

void TPowersock::AwaitConnection()
{
    events->WatchConnect();
    TimerOn();
    {
        TimerOffOnExit timerOff{this};
        while (!Connected && !TimedOut && !Canceled && LastEventOk)
            PumpMessages(true);
    }
    if (!TimedOut && !Canceled && LastEventOk)
        return;
    // Forget the connect in flight (or one that completed just as the wait
    // was ended), so that nothing marks the component connected later.
    events->Attach(socketHandle);
    Connected = false;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ETimeOutError(QStringLiteral("Connection Timed out"));
    if (Canceled)
        throw ESockError(QStringLiteral("Connection Canceled"));
    throw ESockError(QStringLiteral("Connection Failed"));
}

// Sending and receiving of TPowersock: buffers, lines, counts, files, and
// the listening side of a data connection.
#include "TPowersock.h"
#include "TimerOffOnExit.h"

#include "ESockError.h"
#include "SocketEventSource.h"
#include "platform/Sockets.h"

#include <QFile>
#include <QPointer>

#include <cstring>

namespace sock = platform::sock;

void TPowersock::SendBuffer(const char *data, std::uint16_t length)
{
    StatusMessage(4, QStringLiteral("Sending Buffer"));
    TimerOn();
    TimerOffOnExit timerOff{this};
    if (!Canceled) {
        const std::size_t total = length != 0 ? length : strnlen(data, 65535);
        std::size_t sent = 0;
        while (sent < total && !Canceled) {
            const auto n = sock::Send(socketHandle, data + sent, total - sent);
            if (n == 0)
                break;
            if (n < 0) {
                CheckSocketError(sock::WouldBlock);
                // The send buffer is full. Retrying at once without running
                // the event loop would spin; waiting for room does the same
                // without burning a core, and the time-out still bounds it.
                if (!sock::WaitWritable(socketHandle, TimeOut > 0 ? TimeOut : -1)) {
                    TimedOut = true;
                    throw ETimeOutError(QStringLiteral("Socket send timed out"));
                }
                continue;
            }
            sent += std::size_t(n);
        }
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
}

void TPowersock::Write(const QByteArray &text)
{
    StatusMessage(8, QStringLiteral("Write"));
    char *buffer = workingBuffer->data();
    const auto length = std::min<qsizetype>(text.size(), WorkingBufferSize);
    std::memcpy(buffer, text.constData(), std::size_t(length));
    buffer[length] = '\0';
    SendBuffer(buffer, 0);
}

void TPowersock::Writeln(const QByteArray &text)
{
    StatusMessage(8, QStringLiteral("Writeln"));
    Write(text + "\r\n");
}

QByteArray TPowersock::ReadLn()
{
    StatusMessage(8, QStringLiteral("ReadLn"));
    TimerOn();
    TimerOffOnExit timerOff{this};
    QByteArray line;
    std::size_t taken = 0;
    std::ptrdiff_t lineEnd = -1;
    for (;;) {
        const LinePeek peeked = PeekLine(line, taken, lineEnd);
        if (peeked == LinePeek::Closed)
            return {};
        if (peeked == LinePeek::LineEnd || peeked == LinePeek::NotConnected || Canceled || TimedOut)
            break;
        events->ArmRead();
        PumpMessages(peeked == LinePeek::NothingYet);
        if (Canceled || TimedOut)
            break;
    }
    return TakeLine(std::move(line), taken, lineEnd);
}

// The line is found by peeking, so bytes after its line feed stay in the
// socket; the bytes before it are moved into `line` as they come, so that
// the next peek sees only what is new.
TPowersock::LinePeek TPowersock::PeekLine(QByteArray &line, std::size_t &taken, std::ptrdiff_t &lineEnd)
{
    char *buffer = workingBuffer->data();
    const std::size_t room = WorkingBufferSize - taken;
    if (room == 0) {
        // The line does not fit the working buffer. Peeking into no room
        // would read as the peer's close; a hostile or broken peer must
        // get a clear error instead.
        throw ESockError(QStringLiteral("Line longer than %1 bytes received").arg(WorkingBufferSize));
    }
    const auto n = sock::Peek(socketHandle, buffer + taken, room);
    if (n == 0)
        return LinePeek::Closed;
    if (n < 0) {
        LastErrorNo = sock::LastSocketError();
        if (LastErrorNo == sock::NotConnected)
            return LinePeek::NotConnected;
        CheckSocketError(sock::WouldBlock);
        return LinePeek::NothingYet;
    }
    if (const void *lf = std::memchr(buffer + taken, '\n', std::size_t(n))) {
        lineEnd = static_cast<const char *>(lf) - buffer;
        return LinePeek::LineEnd;
    }
    const auto got = sock::Receive(socketHandle, buffer + taken, std::size_t(n));
    if (got < 0) {
        CheckSocketError(sock::WouldBlock);
    } else {
        line.append(buffer + taken, got);
        taken += std::size_t(got);
    }
    return LinePeek::MoreToCome;
}

QByteArray TPowersock::TakeLine(QByteArray line, std::size_t taken, std::ptrdiff_t lineEnd)
{
    if (Canceled) {
        Canceled = false;
        throw EAbortError(QStringLiteral("Socket readln aborted"));
    }
    if (TimedOut)
        throw ETimeOutError(QStringLiteral("Timed out waiting for a reply"));
    if (lineEnd < 0)
        return {}; // the socket is not connected: no line end was ever seen
    char *buffer = workingBuffer->data();
    const auto got = sock::Receive(socketHandle, buffer + taken, std::size_t(lineEnd) - taken + 1);
    if (got < 0)
        CheckSocketError(sock::WouldBlock);
    else
        line.append(buffer + taken, got);
    events->ArmRead();
    return line;
}

QByteArray TPowersock::Read(std::uint16_t count)
{
    StatusMessage(8, QStringLiteral("Read( %1 )").arg(count));
    char *buffer = workingBuffer->data();
    if (count > 0) {
        // Wake up only when count bytes are there (or the peer closed),
        // not every time a few more bytes arrive.
        sock::ScopedReceiveLowWater lowWater(socketHandle, count);
        for (;;) {
            const auto n = sock::Peek(socketHandle, buffer, WorkingBufferSize);
            if (n == 0)
                return {};
            if (n < 0)
                CheckSocketError(sock::WouldBlock);
            else if (n >= count)
                break;
            else if (sock::PeerClosed(socketHandle)) {
                count = std::uint16_t(n); // nothing more will come
                break;
            }
            if (Canceled)
                break;
            events->ArmRead();
            PumpMessages(true);
            if (Canceled)
                break;
        }
    } else {
        const auto n = sock::Peek(socketHandle, buffer, WorkingBufferSize);
        if (n < 0) {
            CheckSocketError(sock::WouldBlock);
            return {};
        }
        count = std::uint16_t(std::min<std::ptrdiff_t>(n, 65535));
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
    const auto got = sock::Receive(socketHandle, buffer, count);
    events->ArmRead();
    if (got < 0) {
        CheckSocketError(sock::WouldBlock);
        return {};
    }
    return QByteArray(buffer, got);
}

bool TPowersock::DataAvailable()
{
    StatusMessage(8, QStringLiteral("Data Available"));
    char probe = 0;
    return sock::Peek(socketHandle, &probe, 1) > 0;
}

void TPowersock::ClearInput()
{
    StatusMessage(8, QStringLiteral("Clearing Input"));
    (void)sock::Receive(socketHandle, workingBuffer->data(), WorkingBufferSize);
    events->ArmRead();
}

void TPowersock::Listen(bool useListenerCode)
{
    StatusMessage(8, QStringLiteral("Listening"));
    AsyncDone = false;
    // Unlike the calls it models, a failed bind or listen is reported: a
    // data port that is not listening would only show up as a hung upload.
    if (!sock::BindAny(socketHandle, std::uint16_t(Port)) || !sock::ListenOn(socketHandle, 1)) {
        CheckSocketError(sock::WouldBlock);
        throw ESockError(ErrorMessage(std::uint16_t(sock::LastSocketError())));
    }
    events->WatchListen(useListenerCode ? SocketEventSource::LookupOrListenerCode
                                        : SocketEventSource::SocketEventCode);
}

int TPowersock::Accept()
{
    StatusMessage(4, QStringLiteral("Accepting"));
    // The wait is bounded by the time-out, so a server that never opens the
    // data connection cannot hang the caller.
    TimerOn();
    TimerOffOnExit timerOff{this};
    for (;;) {
        while (!AsyncDone && !Canceled)
            PumpMessages(true);
        if (TimedOut) {
            Canceled = false;
            throw ETimeOutError(QStringLiteral("Timed out waiting for the data connection"));
        }
        if (Canceled)
            throw ESockError(QStringLiteral("Accepting Canceled"));
        if (!LastEventOk)
            throw ESockError(QStringLiteral("Error creating Data Connection"));
        std::uint32_t peerAddress = 0;
        std::uint16_t peerPort = 0;
        const int accepted = sock::AcceptPeer(socketHandle, peerAddress, peerPort);
        if (accepted == sock::InvalidSocket) {
            CheckSocketError(sock::WouldBlock);
            throw ESockError(QStringLiteral("Error creating Data Connection"));
        }
        if (!acceptFrom.isEmpty() && sock::DottedAddress(peerAddress) != acceptFrom.toLatin1()) {
            (void)sock::CloseSocket(accepted);
            AsyncDone = false;
            events->ArmRead();
            continue;
        }
        remoteAddress = peerAddress;
        remotePort = peerPort;
        if (Canceled) {
            (void)sock::CloseSocket(accepted);
            Canceled = false;
            throw EAbortError(QStringLiteral("Socket send aborted"));
        }
        return accepted;
    }
}

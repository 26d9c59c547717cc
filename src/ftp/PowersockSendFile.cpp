// Sending a file over a data connection. The bytes go from the page cache
// to the socket (sendfile) where the platform allows it, else in pieces
// through the working buffer. Either way the wait for room in the socket is
// bounded by TimeOut without progress: a server that stops taking data ends
// the send instead of holding the upload for ever.
#include "TPowersock.h"
#include "TimerOffOnExit.h"

#include "ESockError.h"
#include "SocketEventSource.h"
#include "platform/Sockets.h"

#include <QFile>

namespace sock = platform::sock;

void TPowersock::PacketSent(std::ptrdiff_t count)
{
    BytesSent += qint64(count);
    TimerOff(); // progress: the next wait starts its own time-out
    if (OnPacketSent)
        OnPacketSent(this);
    PumpMessages(false);
}

void TPowersock::WaitToSend()
{
    // TimerOn starts the time-out only when it is not already running, so it
    // runs from the first wait after the last progress.
    TimerOn();
    events->ArmWritable();
    PumpMessages(true);
    if (TimedOut) {
        Canceled = false; // the time-out's own abort, reported here instead
        throw ETimeOutError(QStringLiteral("Timed out sending data: the peer took none for %1 ms").arg(TimeOut));
    }
}

void TPowersock::SendPiece(const char *data, std::size_t length)
{
    std::size_t sent = 0;
    while (sent < length && !Canceled) {
        const auto n = sock::Send(socketHandle, data + sent, length - sent);
        if (n > 0) {
            sent += std::size_t(n);
            PacketSent(n);
        } else if (n == 0) {
            // Dropping the rest of the piece would corrupt the file silently.
            throw ESockError(QStringLiteral("Connection closed while sending"));
        } else {
            CheckSocketError(sock::WouldBlock);
            WaitToSend();
        }
    }
}

void TPowersock::SendFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    SendFile(file);
}

void TPowersock::SendFile(QFile &file)
{
    StatusMessage(8, QStringLiteral("SendFile"));
    const QString fileName = file.fileName();
    TimerOffOnExit timerOff{this};
    const qint64 size = file.size();
    std::int64_t position = 0;
    bool zeroCopy = true;
    while (position != size && !Canceled) {
        if (zeroCopy) {
            const auto n = sock::SendFileData(socketHandle, file.handle(), position, std::size_t(size - position));
            if (n > 0) {
                PacketSent(n);
            } else if (n == 0 || n == sock::FileSendUnsupported) {
                // Not possible for this file, or it ended early: reading it
                // in pieces sends what can be sent or names the problem.
                zeroCopy = false;
            } else {
                CheckSocketError(sock::WouldBlock);
                WaitToSend();
            }
            continue;
        }
        char *buffer = workingBuffer->data();
        const qint64 n = file.seek(position) ? file.read(buffer, std::min<qint64>(WorkingBufferSize, size - position)) : -1;
        if (n <= 0)
            throw Exception(QStringLiteral("Cannot read file \"%1\". %2")
                                .arg(fileName, n == 0 ? QStringLiteral("It ended early.") : file.errorString()));
        SendPiece(buffer, std::size_t(n));
        position += n;
    }
    if (Canceled) {
        Canceled = false;
        throw EAbortError(QStringLiteral("Socket send aborted"));
    }
}

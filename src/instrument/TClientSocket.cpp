#include "instrument/TClientSocket.h"

#include "ftp/ESockError.h"
#include "ftp/SocketErrorTable.h"
#include "instrument/CommandReply.h"
#include "platform/Sockets.h"

#include <cerrno>
#include <poll.h>

#include <algorithm>
#include <utility>

namespace sock = platform::sock;

namespace {

// Milliseconds for poll: -1 waits without limit (TimeOut 0).
int millisecondsUntil(TClientSocket::Deadline deadline)
{
    using namespace std::chrono;
    if (deadline == TClientSocket::Deadline::max())
        return -1;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return int(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
}

} // namespace

TClientSocket::~TClientSocket()
{
    Close();
}

void TClientSocket::Close()
{
    received.clear();
    if (fd >= 0)
        (void)sock::CloseSocket(std::exchange(fd, -1));
}

TClientSocket::Deadline TClientSocket::ReadDeadline() const
{
    if (TimeOut <= 0)
        return Deadline::max();
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

void TClientSocket::failWith(int wsaCode)
{
    Close();
    throw ESockError(SocketErrorText(wsaCode));
}

void TClientSocket::Open()
{
    Close();
    const std::optional<std::uint32_t> address = sock::ParseDottedAddress(Address);
    if (!address)
        failWith(sock::AddressNotAvailable);
    fd = sock::CreateTcpSocket();
    if (fd < 0)
        failWith(sock::LastSocketError());
    // Commands without a reply (":MMEM:CDIR") are followed at once by the
    // error query; with Nagle on, that query would wait for the instrument's
    // delayed acknowledgement of the first line (40 to 200 ms).
    (void)sock::SetNoDelay(fd);

    const Deadline deadline = ReadDeadline();
    if (!sock::StartConnect(fd, *address, Port) && sock::LastSocketError() != sock::Interrupted)
        failWith(sock::LastSocketError());
    waitFor(POLLOUT, deadline);
    if (const int error = sock::PendingError(fd))
        failWith(error);
}

void TClientSocket::waitFor(short events, Deadline deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return; // errors and hang-ups show in the call that follows
        if (ready == 0)
            failWith(sock::TimedOut);
        if (errno != EINTR)
            failWith(sock::WsaErrorFromErrno(errno));
    }
}

void TClientSocket::Write(const QByteArray &bytes)
{
    if (fd < 0)
        return;
    const Deadline deadline = ReadDeadline();
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        // No SIGPIPE here: a reset connection comes back as an error.
        const std::ptrdiff_t n = sock::Send(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (n >= 0)
            sent += n;
        else if (sock::LastSocketError() == sock::WouldBlock)
            waitFor(POLLOUT, deadline);
        else if (sock::LastSocketError() != sock::Interrupted)
            failWith(sock::LastSocketError());
    }
}

bool TClientSocket::ReadLine(QByteArray &line, qsizetype maxLength, Deadline deadline)
{
    line.clear();
    try {
        while (!CommandReply::TakeLine(line, received, maxLength)) {
            if (!receiveMore(deadline))
                return false;
        }
    } catch (const ESockError &) {
        // The rest of an over-long line would be read as the next reply.
        Close();
        throw;
    }
    return true;
}

bool TClientSocket::receiveMore(Deadline deadline)
{
    if (fd < 0)
        return false;
    // A peer that sends without pause never lets a read block, so the
    // deadline is checked before every read, not only in the wait.
    if (std::chrono::steady_clock::now() >= deadline)
        failWith(sock::TimedOut);
    char chunk[4096];
    for (;;) {
        const std::ptrdiff_t n = sock::Receive(fd, chunk, sizeof chunk);
        if (n > 0) {
            received.append(chunk, n);
            return true;
        }
        if (n == 0)
            return false; // the instrument closed its side
        if (sock::LastSocketError() == sock::WouldBlock)
            waitFor(POLLIN, deadline);
        else if (sock::LastSocketError() != sock::Interrupted)
            failWith(sock::LastSocketError());
    }
}

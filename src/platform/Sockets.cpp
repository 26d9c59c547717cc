#include "Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::sock {
namespace {

thread_local int lastError = 0;

// Records errno as the last socket error and hands the failing result back.
template <typename T>
T failed(T result)
{
    lastError = WsaErrorFromErrno(errno);
    return result;
}

sockaddr_in makeAddress(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

} // namespace

int LastSocketError()
{
    return lastError;
}

void SetLastSocketError(int wsaError)
{
    lastError = wsaError;
}

int WsaErrorFromErrno(int e)
{
    switch (e) {
    case 0: return 0;
    case EINTR: return Interrupted;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EWOULDBLOCK: return WouldBlock; // EAGAIN is the same value here
    case EINPROGRESS: return WouldBlock; // a non-blocking connect under way is no error
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return AddressNotAvailable;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // Writing to a connection the peer has reset: Windows Sockets reports the reset.
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return NotConnected;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return TimedOut;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return 10000 + e;
    }
}

std::optional<std::uint32_t> ParseDottedAddress(const QString &text)
{
    std::uint32_t address = 0;
    int group = 0;
    int digits = 0;
    int value = 0;
    for (const QChar c : text) {
        if (c == u'.') {
            if (digits == 0 || group == 3)
                return std::nullopt;
            address = address << 8 | std::uint32_t(value);
            ++group;
            digits = 0;
            value = 0;
        } else if (c >= u'0' && c <= u'9') {
            if (++digits > 3)
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
            if (value > 255)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (group != 3 || digits == 0)
        return std::nullopt;
    return htonl(address << 8 | std::uint32_t(value));
}

std::optional<QString> CanonicalAddress(const QString &text)
{
    const std::optional<std::uint32_t> address = ParseDottedAddress(text);
    if (!address)
        return std::nullopt;
    return QString::fromLatin1(DottedAddress(*address));
}

bool LooksNumeric(const QString &name)
{
    QStringView labels(name);
    if (labels.endsWith(u'.'))
        labels.chop(1);
    const qsizetype dot = labels.lastIndexOf(u'.');
    const QStringView last = dot < 0 ? labels : labels.mid(dot + 1);
    return !last.isEmpty() && last.front().isDigit();
}

QByteArray DottedAddress(std::uint32_t networkOrderAddress)
{
    in_addr a{};
    a.s_addr = networkOrderAddress;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return QByteArray(text);
}

int CreateTcpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? failed(InvalidSocket) : fd;
}

bool SetLinger(int fd, bool on, int seconds)
{
    const linger l{on ? 1 : 0, seconds};
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 || failed(false);
}

bool SetNoDelay(int fd)
{
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 || failed(false);
}

bool CloseSocket(int fd)
{
    // Linux releases the descriptor even when close reports EINTR, so a retry
    // could close someone else's descriptor.
    return ::close(fd) == 0 || errno == EINTR || failed(false);
}

bool StartConnect(int fd, std::uint32_t address, std::uint16_t port)
{
    const sockaddr_in sa = makeAddress(address, port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0)
        return true;
    return errno == EINPROGRESS || failed(false);
}

int PendingError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    return WsaErrorFromErrno(error);
}

bool BindAny(int fd, std::uint16_t port)
{
    const sockaddr_in sa = makeAddress(htonl(INADDR_ANY), port);
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 || failed(false);
}

bool ListenOn(int fd, int backlog)
{
    return ::listen(fd, backlog) == 0 || failed(false);
}

int AcceptPeer(int fd, std::uint32_t &peerAddress, std::uint16_t &peerPort)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    const int peer = ::accept4(fd, reinterpret_cast<sockaddr *>(&sa), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0)
        return failed(InvalidSocket);
    peerAddress = sa.sin_addr.s_addr;
    peerPort = ntohs(sa.sin_port);
    return peer;
}

bool LocalName(int fd, std::uint32_t &address, std::uint16_t &port)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &length) != 0)
        return failed(false);
    address = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
    return true;
}

std::ptrdiff_t Send(int fd, const char *data, std::size_t length)
{
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    return n < 0 ? failed<std::ptrdiff_t>(-1) : n;
}

std::ptrdiff_t Receive(int fd, char *buffer, std::size_t length)
{
    const ssize_t n = ::recv(fd, buffer, length, 0);
    return n < 0 ? failed<std::ptrdiff_t>(-1) : n;
}

std::ptrdiff_t Peek(int fd, char *buffer, std::size_t length)
{
    const ssize_t n = ::recv(fd, buffer, length, MSG_PEEK);
    return n < 0 ? failed<std::ptrdiff_t>(-1) : n;
}

bool PeerClosed(int fd)
{
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

ScopedReceiveLowWater::ScopedReceiveLowWater(int socket, int bytes)
    : fd(socket)
{
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &bytes, sizeof bytes);
}

ScopedReceiveLowWater::~ScopedReceiveLowWater()
{
    const int one = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
}

bool WaitWritable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return true; // let the next send report what is wrong
    }
}

} // namespace platform::sock

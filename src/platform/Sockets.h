#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// The socket calls the FTP client needs, on POSIX non-blocking IPv4 TCP
// sockets. Every failing call records the error as a Windows Sockets error
// number (see LastSocketError), because the client's messages and its callers
// speak in those numbers ("10061:Connection refused").
namespace platform::sock {

constexpr int InvalidSocket = -1;

// The Windows Sockets error numbers that the program acts on or raises.
constexpr int Interrupted = 10004;         // WSAEINTR
constexpr int WouldBlock = 10035;          // WSAEWOULDBLOCK
constexpr int AddressNotAvailable = 10049; // WSAEADDRNOTAVAIL
constexpr int NotConnected = 10057;        // WSAENOTCONN
constexpr int TimedOut = 10060;            // WSAETIMEDOUT
constexpr int HostNotFound = 11001;        // WSAHOST_NOT_FOUND
constexpr int NoAddressRecord = 11004;     // WSANO_DATA

// The Windows Sockets error number of the last failing call on this thread
// (0 after a call that succeeded and said nothing).
[[nodiscard]] int LastSocketError();
void SetLastSocketError(int wsaError);

// Maps an errno value to its Windows Sockets number; unknown values map to
// 10000 + errno so that they still read as a socket error.
[[nodiscard]] int WsaErrorFromErrno(int errnoValue);

// The one reading of an instrument address: four decimal groups of 0-255
// joined by dots, a group of one to three digits ("192.168.001.010" is
// 192.168.1.10). The classic inet_addr rules read a leading 0 as octal, 0x
// as hexadecimal and "127.1" as shorthand, so a zero-padded group typed into
// the window's three-digit places reached another instrument; none of that
// is taken here. In network byte order; nothing when the text is not one.
[[nodiscard]] std::optional<std::uint32_t> ParseDottedAddress(const QString &text);
// The address in its plain form ("192.168.1.10"), as records keep it and a
// child run is handed it; nothing when the text is not an address.
[[nodiscard]] std::optional<QString> CanonicalAddress(const QString &text);
// True for a name that a resolver would take for a numeric address (its
// last label starts with a digit, as no host name's top-level label does):
// such a name is never looked up, or "127.0.0.010" or "127.1" would reach the
// address the classic rules make of it.
[[nodiscard]] bool LooksNumeric(const QString &name);
[[nodiscard]] QByteArray DottedAddress(std::uint32_t networkOrderAddress);

// A non-blocking, close-on-exec IPv4 stream socket, or InvalidSocket.
[[nodiscard]] int CreateTcpSocket();
// Returns false (error recorded) when the call fails.
[[nodiscard]] bool SetLinger(int fd, bool on, int seconds);
// Nagle's algorithm off: a small write goes out at once instead of waiting
// for the acknowledgement of the previous one.
[[nodiscard]] bool SetNoDelay(int fd);
[[nodiscard]] bool CloseSocket(int fd);
// Starts a connect; true when it completed or is in progress.
[[nodiscard]] bool StartConnect(int fd, std::uint32_t address, std::uint16_t port);
// The error a finished connect left on the socket, as a Windows Sockets number.
[[nodiscard]] int PendingError(int fd);
[[nodiscard]] bool BindAny(int fd, std::uint16_t port);
[[nodiscard]] bool ListenOn(int fd, int backlog);
// The accepted non-blocking socket (and the peer's address), or InvalidSocket.
[[nodiscard]] int AcceptPeer(int fd, std::uint32_t &peerAddress, std::uint16_t &peerPort);
[[nodiscard]] bool LocalName(int fd, std::uint32_t &address, std::uint16_t &port);

// Never raises SIGPIPE: a peer that has gone away shows up as an error number.
// Results as send/recv: bytes moved, 0 for an orderly close (recv), -1 on error.
[[nodiscard]] std::ptrdiff_t Send(int fd, const char *data, std::size_t length);
[[nodiscard]] std::ptrdiff_t Receive(int fd, char *buffer, std::size_t length);
[[nodiscard]] std::ptrdiff_t Peek(int fd, char *buffer, std::size_t length);

// True when the peer has finished sending (its close has arrived).
[[nodiscard]] bool PeerClosed(int fd);

// While alive, the socket reports itself readable only when at least
// `bytes` bytes are pending (or the peer closed).
class ScopedReceiveLowWater
{
public:
    ScopedReceiveLowWater(int fd, int bytes);
    ~ScopedReceiveLowWater();
    ScopedReceiveLowWater(const ScopedReceiveLowWater &) = delete;
    ScopedReceiveLowWater &operator=(const ScopedReceiveLowWater &) = delete;

private:
    int fd;
};

// Blocks (without the event loop) until the socket can take more bytes or
// timeoutMs passes (negative: no limit); false on time-out.
[[nodiscard]] bool WaitWritable(int fd, int timeoutMs);

} // namespace platform::sock

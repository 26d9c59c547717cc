#include "FakePeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

// Longest the peer waits for anything; keeps a broken test from hanging.
constexpr int PeerPatienceMs = 10000;

void sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

} // namespace

void FakePeer::stream(int fd, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(PeerPatienceMs);
    while (std::chrono::steady_clock::now() < end) {
        pollfd entries[2] = {{fd, POLLOUT, 0}, {stopPipe[0], POLLIN, 0}};
        if (::poll(entries, 2, PeerPatienceMs) <= 0 || entries[1].revents != 0)
            return;
        if (::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) <= 0)
            return; // the client closed
    }
}

FakePeer::FakePeer(QList<Step> steps, QByteArray hello, const char *bindAddress)
    : script(std::move(steps))
    , greeting(std::move(hello))
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_aton(bindAddress, &address.sin_addr);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("fake peer cannot listen");
    listenPort = ntohs(address.sin_port);
    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("fake peer cannot make its pipe");
    worker = std::thread(&FakePeer::run, this);
}

FakePeer::~FakePeer()
{
    finish();
    ::close(listener);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
}

void FakePeer::finish()
{
    if (!worker.joinable())
        return;
    const char stop = 's';
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &stop, 1);
    worker.join();
}

QByteArray FakePeer::transcript()
{
    finish();
    std::lock_guard guard(lock);
    return received;
}

bool FakePeer::wasConnected()
{
    finish();
    std::lock_guard guard(lock);
    return connected;
}

bool FakePeer::waitReadable(int fd)
{
    pollfd entries[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    if (::poll(entries, 2, PeerPatienceMs) <= 0)
        return false;
    // Pending input first: what the client sent before the stop still counts.
    return entries[0].revents != 0;
}

void FakePeer::run()
{
    if (!waitReadable(listener))
        return;
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
        return;
    {
        std::lock_guard guard(lock);
        connected = true;
    }
    sendAll(peer, greeting);

    qsizetype nextStep = 0;
    QByteArray pending;
    bool open = true;
    while (open && waitReadable(peer)) {
        char chunk[4096];
        const ssize_t n = ::recv(peer, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        {
            std::lock_guard guard(lock);
            received.append(chunk, n);
        }
        pending.append(chunk, n);
        for (qsizetype end = pending.indexOf('\n'); open && end >= 0; end = pending.indexOf('\n')) {
            pending.remove(0, end + 1);
            if (nextStep >= script.size())
                continue;
            const Step step = script[nextStep++];
            sendAll(peer, step.reply);
            if (step.after == Stream)
                stream(peer, step.reply);
            if (step.after == Reset) {
                // Linger 0: the close sends a reset instead of an orderly end.
                const linger abort{1, 0};
                ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            open = step.after == Stay;
        }
    }
    ::close(peer);
}

quint16 closedLoopbackPort()
{
    FakePeer probe;
    const quint16 port = probe.port();
    (void)probe.wasConnected();
    return port; // the listener closes with the probe
}

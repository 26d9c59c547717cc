#pragma once

#include <QByteArray>
#include <QList>

#include <mutex>
#include <thread>

// A scripted peer on 127.0.0.1, port 0, for line protocols: it sends a
// greeting when the client connects, then answers each line it receives
// (up to LF) with the next step of its script, and records every byte that
// arrived. It runs on its own thread because the client under test blocks
// the test's thread. Every wait of the peer is bounded.
class FakePeer
{
public:
    // Stream: send the reply again and again until the client closes (at
    // most PeerPatienceMs), an instrument that never ends its line.
    enum After { Stay, Close, Reset, Stream };
    struct Step
    {
        QByteArray reply; // may be empty: the line gets no answer
        After after = Stay;
    };

    explicit FakePeer(QList<Step> script = {}, QByteArray greeting = {},
                      const char *address = "127.0.0.1");
    ~FakePeer();

    [[nodiscard]] quint16 port() const { return listenPort; }

    // Ends the peer once nothing more is pending (the client has sent all
    // it will: its writes are in the peer's queue when they return) and
    // returns every byte received.
    [[nodiscard]] QByteArray transcript();

    // Ends the peer like transcript(); true when a client connected at all.
    [[nodiscard]] bool wasConnected();

private:
    void run();
    void finish();
    // Waits until `fd` is readable (true) or the peer is told to finish.
    bool waitReadable(int fd);
    void stream(int fd, const QByteArray &bytes);

    QList<Step> script;
    QByteArray greeting;
    int listener = -1;
    int stopPipe[2] = {-1, -1};
    quint16 listenPort = 0;
    std::mutex lock;
    QByteArray received;
    bool connected = false;
    std::thread worker;
};

// A loopback port on which nothing listens: connecting to it is refused.
[[nodiscard]] quint16 closedLoopbackPort();

#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// Turns the readiness of one socket, seen through the event loop, into the
// socket events the component is written against: the message code (1125 for
// the ordinary events, 1126 for a listener that asked for it) and a parameter
// with the event kind in the low 16 bits and a Windows Sockets error number in
// the high 16 bits.
//
// Readiness is level-triggered, the events are not: "readable" is delivered
// once and then not again until the owner has read from the socket (ArmRead),
// so unread bytes never make the event loop spin; "closed" is delivered once.
class SocketEventSource : public QObject
{
    Q_OBJECT

public:
    static constexpr int SocketEventCode = 1125;
    static constexpr int LookupOrListenerCode = 1126;
    enum Kind : std::uint16_t { Readable = 1, OutOfBand = 4, IncomingConnection = 8,
                                ConnectCompleted = 16, Closed = 32 };

    using Handler = std::function<void(int code, std::uint32_t param)>;

    SocketEventSource(QObject *parent, Handler handler);
    ~SocketEventSource() override;

    // Watches a new socket; nothing is delivered until one of the Watch calls.
    void Attach(int fd);
    // Stops watching (before the socket is closed).
    void Detach();

    void WatchConnect();
    void WatchData();
    void WatchListen(int code);
    // The owner has read, or is about to wait for bytes: deliver the next
    // "readable" (or a listener's next connection).
    void ArmRead();
    // Wakes the event loop once the socket can take more bytes; delivers no event.
    void ArmWritable();

private:
    enum class Mode { Idle, Connecting, Data, Listening };

    void readReady();
    void writeReady();
    void deliver(int code, std::uint16_t kind, int error);

    Handler handler;
    int fd = -1;
    Mode mode = Mode::Idle;
    int listenCode = SocketEventCode;
    bool closedDelivered = false;
    QSocketNotifier *reader = nullptr; // children
    QSocketNotifier *writer = nullptr;
};

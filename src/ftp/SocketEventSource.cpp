#include "SocketEventSource.h"

#include "platform/Sockets.h"

#include <QSocketNotifier>

namespace sock = platform::sock;

SocketEventSource::SocketEventSource(QObject *parent, Handler eventHandler)
    : QObject(parent)
    , handler(std::move(eventHandler))
{
}

SocketEventSource::~SocketEventSource()
{
    Detach();
}

void SocketEventSource::Attach(int socket)
{
    Detach();
    fd = socket;
    mode = Mode::Idle;
    closedDelivered = false;
    reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    reader->setEnabled(false);
    connect(reader, &QSocketNotifier::activated, this, &SocketEventSource::readReady);
    writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    writer->setEnabled(false);
    connect(writer, &QSocketNotifier::activated, this, &SocketEventSource::writeReady);
}

void SocketEventSource::Detach()
{
    // Notifiers must be gone before their descriptor is closed and reused.
    delete reader;
    reader = nullptr;
    delete writer;
    writer = nullptr;
    fd = -1;
    mode = Mode::Idle;
}

void SocketEventSource::WatchConnect()
{
    if (!writer)
        return;
    mode = Mode::Connecting;
    reader->setEnabled(false);
    writer->setEnabled(true);
}

void SocketEventSource::WatchData()
{
    if (!reader)
        return;
    mode = Mode::Data;
    closedDelivered = false;
    reader->setEnabled(true);
}

void SocketEventSource::WatchListen(int code)
{
    if (!reader)
        return;
    mode = Mode::Listening;
    listenCode = code;
    reader->setEnabled(true);
}

void SocketEventSource::ArmRead()
{
    if (reader && (mode == Mode::Data || mode == Mode::Listening) && !closedDelivered)
        reader->setEnabled(true);
}

void SocketEventSource::ArmWritable()
{
    if (writer && mode != Mode::Connecting)
        writer->setEnabled(true);
}

void SocketEventSource::readReady()
{
    reader->setEnabled(false);
    if (mode == Mode::Listening) {
        deliver(listenCode, IncomingConnection, 0);
        return;
    }
    if (mode != Mode::Data)
        return;
    char probe = 0;
    const auto n = sock::Peek(fd, &probe, 1);
    if (n > 0) {
        deliver(SocketEventCode, Readable, 0);
    } else if (n == 0) {
        closedDelivered = true;
        deliver(SocketEventCode, Closed, 0);
    } else if (sock::LastSocketError() == sock::WouldBlock) {
        reader->setEnabled(true); // nothing there after all
    } else {
        closedDelivered = true;
        deliver(SocketEventCode, Closed, sock::LastSocketError());
    }
}

void SocketEventSource::writeReady()
{
    writer->setEnabled(false);
    if (mode != Mode::Connecting)
        return; // a writer that waited for room only needed to wake up
    const int error = sock::PendingError(fd);
    if (error == 0)
        WatchData();
    else
        mode = Mode::Idle;
    deliver(SocketEventCode, ConnectCompleted, error);
}

void SocketEventSource::deliver(int code, std::uint16_t kind, int error)
{
    // The handler may run a nested event loop that closes the socket or
    // deletes this object; nothing here touches members after the call.
    const std::uint32_t param = (std::uint32_t(std::uint16_t(error)) << 16) | kind;
    const Handler h = handler;
    h(code, param);
}

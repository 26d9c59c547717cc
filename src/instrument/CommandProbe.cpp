#include "instrument/CommandProbe.h"

#include "instrument/CommandReply.h"
#include "platform/Sockets.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>

namespace {

// A stop is seen within this time even when the socket stays silent.
constexpr int StopCheckMs = 100;

} // namespace

CommandProbe::CommandProbe(QString address, quint16 port, QObject *parent)
    : QObject(parent)
    , address(std::move(address))
    , port(port)
{
}

CommandProbe::~CommandProbe()
{
    close();
}

bool CommandProbe::isOpen() const
{
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

void CommandProbe::close()
{
    received.clear();
    if (!socket)
        return;
    // Never called from one of the socket's own signals, so it can go now.
    socket->disconnect(this);
    socket->abort();
    delete socket;
    socket = nullptr;
}

void CommandProbe::stop()
{
    stopping = true;
}

bool CommandProbe::waitUntil(const std::function<bool()> &done, int ms)
{
    const QDeadlineTimer deadline(std::max(ms, 0));
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (socket) {
        connect(socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
        connect(socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        connect(socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        connect(socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    }
    while (!done()) {
        if (stopping || deadline.hasExpired())
            return false;
        wake.start(int(std::min<qint64>(deadline.remainingTime(), StopCheckMs)));
        loop.exec();
    }
    return true;
}

bool CommandProbe::open(int ms)
{
    close();
    const std::optional<std::uint32_t> parsed = platform::sock::ParseDottedAddress(address);
    if (!parsed || stopping)
        return false;
    socket = new QTcpSocket(this);
    socket->connectToHost(QHostAddress(qFromBigEndian(*parsed)), port);
    bool failed = false;
    connect(socket, &QTcpSocket::errorOccurred, this, [&failed] { failed = true; });
    const bool connected = waitUntil([&] { return failed || isOpen(); }, ms) && !failed;
    if (socket)
        socket->disconnect(this);
    if (!connected) {
        close();
        return false;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

std::optional<QByteArray> CommandProbe::takeLine()
{
    received += socket->readAll();
    const qsizetype end = received.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    QByteArray line = received.left(end);
    received.remove(0, end + 1);
    // As the link reads replies: a NUL adds nothing.
    line.removeIf([](char c) { return c == '\0'; });
    return line.trimmed();
}

std::optional<QByteArray> CommandProbe::query(const QByteArray &command, int ms)
{
    if (!isOpen())
        return std::nullopt;
    // Anything still unread belongs to no question of ours.
    socket->readAll();
    received.clear();
    socket->write(command.endsWith('\n') ? command : command + '\n');
    std::optional<QByteArray> line;
    const auto answered = [&] {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
            // A line that came with the close still counts.
            if (socket)
                line = takeLine();
            return true;
        }
        if (received.size() + socket->bytesAvailable() > CommandReply::MaxLength)
            return true;
        line = takeLine();
        return line.has_value();
    };
    if (!waitUntil(answered, ms) || !line) {
        close();
        return std::nullopt;
    }
    return line;
}

bool CommandProbe::staysOpen(int ms)
{
    const auto closed = [this] {
        if (!isOpen())
            return true;
        socket->readAll();
        return false;
    };
    if (closed())
        return false;
    waitUntil(closed, ms);
    return isOpen() && !stopping;
}

void CommandProbe::pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTcpSocket;

// A command-channel connection for watching an instrument from outside a
// run: while it restarts, every connect and reply may fail or never come.
// Unlike the link's blocking channel, every wait here turns the event loop
// (so a stop signal is seen) and is bounded by the time it is given; stop()
// ends the wait under way and every later one at once.
class CommandProbe : public QObject
{
    Q_OBJECT

public:
    CommandProbe(QString address, quint16 port, QObject *parent = nullptr);
    ~CommandProbe() override;

    // Connects within `ms`; false when the address is no dotted IPv4 one,
    // the connection is refused or not accepted in time, or on stop.
    [[nodiscard]] bool open(int ms);
    void close();
    [[nodiscard]] bool isOpen() const;

    // Sends one command line and reads one reply line (line end removed)
    // within `ms`. Nothing when the connection closes or fails, no whole line
    // comes in time, or on stop; the connection is closed then, since a late
    // reply would be read as the next one's.
    [[nodiscard]] std::optional<QByteArray> query(const QByteArray &command, int ms);

    // Waits `ms` on an open, idle connection; false as soon as it closes or
    // fails (at once when it is not open), or on stop. Bytes the instrument
    // sends unasked are dropped.
    [[nodiscard]] bool staysOpen(int ms);

    // Waits `ms`, or less on stop.
    void pause(int ms);

    void stop();
    [[nodiscard]] bool stopped() const { return stopping; }

private:
    // Turns the event loop until `done` holds; false when the time ran out
    // or stop() came first.
    bool waitUntil(const std::function<bool()> &done, int ms);
    [[nodiscard]] std::optional<QByteArray> takeLine();

    QString address;
    quint16 port;
    QTcpSocket *socket = nullptr;
    QByteArray received;
    bool stopping = false;
};

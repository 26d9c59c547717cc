#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// The command channel's transport: a blocking IPv4 TCP client. Every call
// waits for its completion on the calling thread without processing window
// messages, as the instrument's line protocol expects, but every wait is
// bounded by TimeOut so that a silent instrument cannot freeze the tool for
// good. Socket failures are raised as ESockError after the channel is closed.
class TClientSocket
{
public:
    using Deadline = std::chrono::steady_clock::time_point;

    TClientSocket() = default;
    ~TClientSocket(); // closes
    TClientSocket(const TClientSocket &) = delete;
    TClientSocket &operator=(const TClientSocket &) = delete;

    // Four decimal groups (platform::sock::ParseDottedAddress); any other
    // text fails Open before anything is sent.
    QString Address;
    quint16 Port = 5000;
    // Bound, in milliseconds, of the connect, of each write and of each
    // reply read; 0 waits without limit, like the FTP client's TimeOut.
    int TimeOut = 60000;

    [[nodiscard]] bool Active() const { return fd >= 0; }

    // Connects to Address:Port; throws ESockError (the channel stays closed).
    void Open();
    void Close();

    // Sends all of `bytes`; does nothing when closed. Throws ESockError (and
    // closes) when the platform reports the connection as failed or reset.
    void Write(const QByteArray &bytes);

    // A deadline TimeOut from now, for a read that may span several calls.
    [[nodiscard]] Deadline ReadDeadline() const;

    // Reads one reply line into `line` (cleared first), line feed included,
    // by CommandReply's rules: what the instrument sent after the line feed
    // waits here for the next call. False when the line can't be completed:
    // the channel is closed or the instrument has closed its side (`line`
    // holds what came). Throws ESockError (and closes) on a socket error, a
    // line longer than `maxLength`, or once the deadline has passed, even
    // while bytes keep arriving.
    [[nodiscard]] bool ReadLine(QByteArray &line, qsizetype maxLength, Deadline deadline);

private:
    // Waits until `events` are ready on the socket or the deadline passes;
    // throws the time-out error (after closing) in the latter case.
    void waitFor(short events, Deadline deadline);
    [[noreturn]] void failWith(int wsaCode);
    // Appends what the socket holds now (waiting for at least one byte) to
    // `received`; false when the instrument has closed its side.
    [[nodiscard]] bool receiveMore(Deadline deadline);

    // Read ahead of the line taken last; emptied when the channel closes.
    QByteArray received;
    int fd = -1;
};

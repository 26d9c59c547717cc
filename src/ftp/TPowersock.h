#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

class QFile;
class SocketEventSource;
class TThreadTimer;

// Notification types of the socket component. Each is a callable that may be
// left empty; it is checked before every call.
using TNotifyEvent = std::function<void(QObject *Sender)>;
using THandlerEvent = std::function<void(bool &Handled)>;
using TOnHostResolved = std::function<void(QObject *Sender)>;
using TOnStatus = std::function<void(QObject *Sender, const QString &Status)>;
using TOnErrorEvent = std::function<void(QObject *Sender, std::uint16_t Errno, const QString &Errmsg)>;

// One IPv4 TCP socket with blocking-style operations (connect, send a buffer,
// a line or a file, read a line or a count of bytes, listen and accept one
// peer) on top of a non-blocking socket. Every wait runs the event loop, so
// the user interface stays live, socket events and timer ticks are delivered,
// and Cancel (or Abort) called from any handler ends the wait. Waiting blocks
// in the event loop: it costs no CPU while nothing happens.
//
// Every failure is an exception (ESockError, EAbortError, or Exception for
// "Not Connected"); no operation returns an error code.
class TPowersock : public QObject
{
    Q_OBJECT

public:
    explicit TPowersock(QObject *owner);
    ~TPowersock() override;

    // Settings.
    QString Host;          // dotted IPv4 address or host name
    int Port = 0;          // remote port for Connect; local port for Listen (0: any)
    int TimeOut = 0;       // milliseconds per operation; 0 means no time-out
    int ReportLevel = 0;   // OnStatus hears levels 1..ReportLevel
    QString Proxy;         // when set, Connect goes here instead of Host
    int ProxyPort = 0;

    TNotifyEvent OnConnect;            // the socket completed a connection
    TNotifyEvent OnDisconnect;         // RequestCloseSocket closed the socket
    THandlerEvent OnInvalidHost;       // no address; Handled = true asks for one more try
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;   // before Connect raises
    TOnErrorEvent OnError;             // before a socket error is raised
    THandlerEvent OnConnectionRequired;// one chance to connect when there is no connection
    TNotifyEvent OnPacketSent;         // SendFile handed one more piece to the socket
    TNotifyEvent OnPacketRecvd;        // kept for callers; nothing here fires it
    TNotifyEvent OnDataArrival;        // bytes became readable (exceptions are swallowed)
    TNotifyEvent OnAccept;             // an incoming connection on the ordinary code

    // Run-time state.
    bool Connected = false;
    bool Canceled = false;   // set by Cancel; consumed by the operation that reports the abort
    bool TimedOut = false;   // set by the time-out; cleared by TimerOn
    bool AsyncDone = false;  // an awaited one-shot event (look-up, listener) or the time-out came
    bool LastEventOk = true; // the last socket event carried no error
    int LastErrorNo = 0;
    std::int16_t ReplyCode = 0;
    QString LastReply;
    QString Status;
    qint64 BytesSent = 0; // 64-bit: a file of 2 GiB and more counts to its end
    qint64 BytesTotal = 0;
    QStringList SocketInfo;

    virtual int Accept();
    // Not virtual: the FTP engine's Connect and Disconnect return how the
    // dialogue ended and so hide these rather than override them.
    void Connect();
    void Disconnect();
    virtual QString Transaction(const QString &command);
    virtual void Abort();

    void CheckConnection();
    void Cancel();
    // length 0 means "up to the first zero byte" (at most 65,535 bytes).
    void SendBuffer(const char *data, std::uint16_t length);
    void Write(const QByteArray &text);
    void Writeln(const QByteArray &text);
    [[nodiscard]] QByteArray Read(std::uint16_t count);
    // One line with its line end; an empty result means the peer closed.
    [[nodiscard]] QByteArray ReadLn();
    void SendFile(const QString &fileName);
    // The same for a file already open for reading.
    void SendFile(QFile &file);
    void Listen(bool useListenerCode);
    [[nodiscard]] bool DataAvailable();
    void ClearInput();
    void ResolveHost();
    void RequestCloseSocket();
    QString CheckSocketError(std::uint16_t ignoredError);
    [[nodiscard]] QString ErrorMessage(std::uint16_t errorNo);
    void StatusMessage(std::uint8_t level, const QString &text);
    void TimerOn();
    void TimerOff();
    [[nodiscard]] QString PortAddress();
    [[nodiscard]] QString PortNumberText();

    // The socket in use (-1: none). Accept hands out a new one; the caller
    // installs it with ReplaceSocket, which closes the listening one.
    [[nodiscard]] int Socket() const { return socketHandle; }
    void ReplaceSocket(int acceptedSocket);
    // Lingering on the current socket: off makes its close deliver every byte sent.
    void SetLinger(bool on, int seconds);
    // The remote address in use, dotted (after ResolveHost, Connect or Accept).
    [[nodiscard]] QString RemoteAddress() const;
    // From now on Accept takes only a peer at this address (dotted) and
    // closes any other, waiting on within the time-out; empty takes any.
    void AcceptOnlyFrom(const QString &address) { acceptFrom = address; }

    static constexpr int WorkingBufferSize = 65536;

protected:
    [[nodiscard]] bool BeingDestroyed() const { return destroying; }
    // The number at the start of a reply line (at most its first 10 characters);
    // 0 when it does not start with a digit. Raises EConvertError when the
    // number does not fit a reply code.
    [[nodiscard]] static std::int16_t ParseReplyCode(const QByteArray &line);
    // Runs the event loop once; with wait, blocks until an event arrives.
    // Raises EAbortError when the component was deleted by a handler meanwhile.
    void PumpMessages(bool wait);

private:
    void InitSockets();
    // The steps of Connect: the remote address (OnInvalidHost may supply
    // another host once), then the wait for the connect to complete, which
    // throws when it timed out, was cancelled or failed.
    void ResolveRemoteHost();
    void AwaitConnection();
    void OpenFreshSocket(bool abortiveClose);
    void CloseCurrentSocket();
    void HandleSocketMessage(int code, std::uint32_t param);
    void TimerTriggered();
    [[nodiscard]] bool WaitReadable(bool &progressed);
    // The steps of ReadLn: one peek for the line end, and the taking of the
    // line once it was found (or the wait ended without it).
    enum class LinePeek { LineEnd, Closed, NotConnected, NothingYet, MoreToCome };
    [[nodiscard]] LinePeek PeekLine(QByteArray &line, std::size_t &taken, std::ptrdiff_t &lineEnd);
    [[nodiscard]] QByteArray TakeLine(QByteArray line, std::size_t taken, std::ptrdiff_t lineEnd);
    void SendPiece(const char *data, std::size_t length);
    void PacketSent(std::ptrdiff_t count);
    void WaitToSend();
    void LookupFinished(int id, std::uint32_t address, int error);

    std::unique_ptr<std::array<char, WorkingBufferSize + 1>> workingBuffer;
    TThreadTimer *timer = nullptr;          // child
    SocketEventSource *events = nullptr;    // child
    int socketHandle = -1;
    QString acceptFrom;
    bool connectAttempted = false;
    bool destroying = false;
    std::uint32_t remoteAddress = 0;        // network byte order
    std::uint16_t remotePort = 0;
    int lookupId = -1;
    std::uint32_t lookupAddress = 0;        // the look-up's first IPv4 address
};

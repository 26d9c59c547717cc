#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;

// A scripted FTP server on 127.0.0.1 (ephemeral port) that lives on the
// test's own thread: the client's waits run the event loop, and that is when
// the peer plays. It answers each command line with the next scripted reply,
// records every byte the client sent on the control connection, and plays the
// data side of STOR in active (it connects to the PORT address) or passive
// mode (a PASV reply may contain %PASV%, which becomes its data port).
class FakeFtpPeer : public QObject
{
    Q_OBJECT

public:
    enum class Action {
        Reply,         // send the text
        ReplyAndClose, // send the text, then close the control connection
        Silence,       // send nothing; the client has to time out
        Reset,         // reset the control connection instead of answering
    };
    struct Step
    {
        QByteArray text;
        Action action = Action::Reply;
    };

    explicit FakeFtpPeer(QObject *parent = nullptr);
    ~FakeFtpPeer() override;

    [[nodiscard]] quint16 port() const;

    // Sent as soon as the client connects (empty: say nothing).
    QByteArray greeting = "220 fake FTP ready\r\n";
    // Sent after the greeting, one line every dribbleIntervalMs: a slow server.
    QList<QByteArray> dribble;
    int dribbleIntervalMs = 20;
    // One step per command line, in order. After a 1xx reply to STOR the next
    // step waits until the data connection has closed.
    QList<Step> script;
    void reply(const QByteArray &text, Action action = Action::Reply) { script.append({text, action}); }

    // Faults of the data side.
    bool dataNeverConnects = false;   // active mode: never open the data connection
    qint64 resetDataAfter = -1;       // reset the data connection after this many bytes
    bool dataStopsReading = false;    // take the data connection, then read nothing
    QString strangerFrom;             // active mode: first connect from this local address
    QByteArray strangerBytes;         // what reached that stranger
    int strangersTurnedAway = 0;      // its connections the client closed

    // What happened.
    QByteArray controlBytes;          // everything the client sent, line ends included
    QList<QByteArray> commands;       // the same, one line each without its line end
    QByteArray dataBytes;             // what arrived over the data connection
    int dataConnections = 0;
    int controlConnections = 0;
    bool clientClosedControl = false;

private:
    void acceptControl();
    void controlReadable();
    void handleCommand(const QByteArray &line);
    void play(const Step &step);
    void startActiveData();
    void connectStranger();
    void acceptPassiveData();
    void attachData(QTcpSocket *socket);
    void dataReadable();
    void dataFinished();

    QTcpServer *server = nullptr;      // child
    QTcpServer *passiveServer = nullptr; // child
    QPointer<QTcpSocket> control;
    QPointer<QTcpSocket> data;
    QByteArray pending;
    QByteArray portHost;
    quint16 portPort = 0;
    bool storWaitingForData = false;
};

// The socket component against a raw TCP peer on loopback.
#include "ftp/ESockError.h"
#include "ftp/SocketErrorTable.h"
#include "ftp/TPowersock.h"
#include "ftp/TThreadTimer.h"
#include "platform/Sockets.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// A listening peer on 127.0.0.1 whose accepted socket the test writes to.
class RawPeer : public QObject
{
public:
    RawPeer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this] { received += peer->readAll(); });
        });
    }
    quint16 port() const { return server.serverPort(); }
    void send(const QByteArray &bytes)
    {
        QVERIFY(peer);
        peer->write(bytes);
        peer->flush();
    }

    QTcpServer server;
    QPointer<QTcpSocket> peer;
    QByteArray received;
};

std::unique_ptr<TPowersock> connectedTo(RawPeer &peer, QObject *parent = nullptr)
{
    auto sock = std::make_unique<TPowersock>(parent);
    sock->Host = QStringLiteral("127.0.0.1");
    sock->Port = peer.port();
    sock->TimeOut = 10000;
    sock->Connect();
    // The peer's side is accepted when the event loop next runs.
    if (!QTest::qWaitFor([&] { return !peer.peer.isNull(); }, 5000))
        qWarning("the raw peer did not see the connection");
    return sock;
}

} // namespace

class TestPowersock : public QObject
{
    Q_OBJECT

private slots:
    void errorMessages_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << 10061 << "10061:Connection refused";
        QTest::newRow("reset") << 10054 << "10054:Connection reset by peer";
        QTest::newRow("last entry") << 11004 << "11004:Valid name, no data record of requested type";
        QTest::newRow("unknown") << 12345 << "Unknown Error No. 12345";
        QTest::newRow("none") << 0 << "";
    }
    void errorMessages()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        TPowersock sock(nullptr);
        QCOMPARE(sock.ErrorMessage(std::uint16_t(number)), text);
    }

    void readLnTakesOneLineAndLeavesTheNext()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        QVERIFY(sock->Connected);
        peer.send("230 Logged in\r\n331 second\r\n");
        QCOMPARE(sock->ReadLn(), QByteArray("230 Logged in\r\n"));
        QCOMPARE(sock->ReadLn(), QByteArray("331 second\r\n"));
    }

    void readLnJoinsALineSplitAcrossReads()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        peer.send("220 first ha");
        QTimer::singleShot(30, &peer, [&] { peer.send("lf, second half\n"); });
        QCOMPARE(sock->ReadLn(), QByteArray("220 first half, second half\n"));
    }

    void readLnLineThatFillsTheBufferExactly()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        QByteArray line(TPowersock::WorkingBufferSize - 1, 'x');
        line += '\n';
        peer.send(line + "next\n");
        QCOMPARE(sock->ReadLn(), line);
        QCOMPARE(sock->ReadLn(), QByteArray("next\n"));
    }

    void readLnLineLongerThanTheBufferIsAnError()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        peer.send(QByteArray(TPowersock::WorkingBufferSize + 10, 'x') + '\n');
        try {
            (void)sock->ReadLn();
            QFAIL("an over-long line was accepted");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, QStringLiteral("Line longer than 65536 bytes received"));
        }
        QVERIFY(sock->Connected); // not taken for the peer's close
    }

    void readLnAfterThePeerClosedIsEmpty()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        bool disconnected = false;
        sock->OnDisconnect = [&](QObject *) { disconnected = true; };
        peer.peer->disconnectFromHost();
        QCOMPARE(sock->ReadLn(), QByteArray());
        // The close event arrives through the event loop and frees the component.
        QTRY_VERIFY(!sock->Connected);
        QVERIFY(disconnected);
    }

    void cancelFromAHandlerEndsReadLn()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        QTimer::singleShot(20, sock.get(), [&] { sock->Cancel(); });
        try {
            (void)sock->ReadLn();
            QFAIL("ReadLn returned without a line");
        } catch (const EAbortError &e) {
            QCOMPARE(e.Message, QStringLiteral("Socket readln aborted"));
        }
        QVERIFY(!sock->Canceled);
    }

    void timeOutEndsReadLnThroughAbort()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        sock->TimeOut = 50;
        try {
            (void)sock->ReadLn();
            QFAIL("ReadLn returned without a line");
        } catch (const EAbortError &e) {
            QCOMPARE(e.Message, QStringLiteral("Socket readln aborted"));
        }
        QVERIFY(sock->TimedOut);
    }

    void connectTwiceIsRefusedAndReconnectWorks()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        try {
            sock->Connect();
            QFAIL("a second Connect was accepted");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, QStringLiteral("Already connected"));
        }
        sock->Disconnect();
        QVERIFY(!sock->Connected);
        peer.peer = nullptr;
        sock->Connect();
        QVERIFY(sock->Connected);
        QTRY_VERIFY(peer.peer);
    }

    void refusedConnection()
    {
        quint16 closedPort = 0;
        {
            QTcpServer s;
            s.listen(QHostAddress::LocalHost, 0);
            closedPort = s.serverPort();
        }
        TPowersock sock(nullptr);
        sock.Host = QStringLiteral("127.0.0.1");
        sock.Port = closedPort;
        int failedCalls = 0;
        sock.OnConnectionFailed = [&](QObject *) { ++failedCalls; };
        try {
            sock.Connect();
            QFAIL("connected to a closed port");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, QStringLiteral("Connection Failed"));
        }
        QCOMPARE(failedCalls, 1);
        QVERIFY(!sock.Connected);
    }

    void peerThatNeverAnswersTheConnectTimesOut()
    {
        // A listener whose queue is full drops further connection requests,
        // so the last connect below is never answered.
        const int full = platform::sock::CreateTcpSocket();
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        QVERIFY(platform::sock::BindAny(full, 0) && platform::sock::ListenOn(full, 0));
        QVERIFY(platform::sock::LocalName(full, address, port));
        const auto closeListener = qScopeGuard([full] { (void)platform::sock::CloseSocket(full); });
        std::vector<std::unique_ptr<TPowersock>> queued;
        int failedCalls = 0;
        QString message;
        for (int i = 0; i < 8 && message.isEmpty(); ++i) {
            auto sock = std::make_unique<TPowersock>(nullptr);
            sock->Host = QStringLiteral("127.0.0.1");
            sock->Port = port;
            sock->TimeOut = 300;
            sock->OnConnectionFailed = [&](QObject *) { ++failedCalls; };
            try {
                sock->Connect();
            } catch (const ESockError &e) {
                message = e.Message;
            }
            queued.push_back(std::move(sock));
        }
        QCOMPARE(message, QStringLiteral("Connection Timed out"));
        QCOMPARE(failedCalls, 1);
        QVERIFY(!queued.back()->Connected);
    }

    void threadTimerRunsOnlyWhenArmed()
    {
        TThreadTimer timer(nullptr);
        QCOMPARE(timer.Enabled(), true);
        QCOMPARE(timer.Interval(), 1000u);
        QVERIFY(!timer.IsRunning()); // nobody to call yet
        int ticks = 0;
        timer.SetInterval(10);
        timer.SetOnTimer([&](QObject *sender) {
            QVERIFY(sender == &timer);
            ++ticks;
        });
        QVERIFY(timer.IsRunning());
        QTRY_VERIFY(ticks >= 2); // it repeats until switched off
        timer.SetEnabled(false);
        QVERIFY(!timer.IsRunning());
        timer.SetInterval(0);
        timer.SetEnabled(true);
        QVERIFY(!timer.IsRunning()); // an interval of 0 means off
        QVERIFY_THROWS_EXCEPTION(Exception, timer.SetInterval(0xFFFFFFFFu)); // "No Timer"
    }

    void transactionReplyCode_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("code");
        QTest::newRow("logged in") << QByteArray("230 Logged in\r\n") << 230;
        QTest::newRow("letter first") << QByteArray("Hello 230\r\n") << 0;
        QTest::newRow("bare line end") << QByteArray("\r\n") << 0;
        QTest::newRow("digits only") << QByteArray("150\n") << 150;
    }
    void transactionReplyCode()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, code);
        RawPeer peer;
        auto sock = connectedTo(peer);
        peer.send(reply);
        QCOMPARE(sock->Transaction(QStringLiteral("NOOP")), QString::fromLatin1(reply));
        QCOMPARE(int(sock->ReplyCode), code);
        QCOMPARE(sock->LastReply, QString::fromLatin1(reply));
        QTRY_COMPARE(peer.received, QByteArray("NOOP\r\n"));
    }

    void dottedHostNeedsNoLookupButANameDoes()
    {
        RawPeer peer;
        for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("127.000.000.001"), QStringLiteral("localhost")}) {
            TPowersock sock(nullptr);
            sock.Host = host;
            sock.Port = peer.port();
            sock.TimeOut = 10000;
            int resolved = 0;
            sock.OnHostResolved = [&](QObject *) { ++resolved; };
            sock.Connect();
            QVERIFY(sock.Connected);
            QCOMPARE(sock.RemoteAddress(), QStringLiteral("127.0.0.1"));
            QCOMPARE(resolved, host == QLatin1String("localhost") ? 1 : 0);
        }
        // A resolver would read these by the classic rules, as 127.0.0.1.
        RawPeer decoy;
        for (const QString &host : {QStringLiteral("127.1"), QStringLiteral("0x7f.0.0.1"), QStringLiteral("2130706433")}) {
            TPowersock sock(nullptr);
            sock.Host = host;
            sock.Port = decoy.port();
            sock.TimeOut = 10000;
            QVERIFY_THROWS_EXCEPTION(ESockError, sock.Connect());
            QVERIFY(!sock.Connected);
        }
        QVERIFY(!decoy.server.hasPendingConnections() && !decoy.peer);
    }

    void invalidHostGetsExactlyOneRetry()
    {
        RawPeer peer;
        // An empty name fails to resolve without asking any name server.
        TPowersock sock(nullptr);
        sock.Port = peer.port();
        int calls = 0;
        sock.OnInvalidHost = [&](bool &handled) { ++calls; handled = true; };
        try {
            sock.Connect();
            QFAIL("connected without an address");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, QStringLiteral("Null Remote Address"));
        }
        QCOMPARE(calls, 1);

        calls = 0;
        sock.OnInvalidHost = [&](bool &handled) { ++calls; sock.Host = QStringLiteral("127.0.0.1"); handled = true; };
        sock.Connect();
        QVERIFY(sock.Connected);
        QCOMPARE(calls, 1);

        TPowersock unhandled(nullptr);
        try {
            unhandled.Connect();
            QFAIL("connected without an address");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, QStringLiteral("Null Remote Address"));
        }
    }

    void statusByLevel()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        QStringList heard;
        sock->OnStatus = [&](QObject *, const QString &s) { heard << s; };
        sock->ReportLevel = 1;
        peer.send("200 ok\r\n");
        (void)sock->Transaction(QStringLiteral("NOOP"));
        QCOMPARE(heard, QStringList{QStringLiteral("200 ok\r\n")});

        heard.clear();
        sock->ReportLevel = 8;
        peer.send("200 ok\r\n");
        (void)sock->Transaction(QStringLiteral("NOOP"));
        QVERIFY(heard.contains(QStringLiteral("Transaction")));
        QVERIFY(heard.contains(QStringLiteral("ReadLn")));
        QVERIFY(heard.contains(QStringLiteral("Sending Buffer")));
        QVERIFY(heard.contains(QStringLiteral("200 ok\r\n")));
    }

    void checkConnectionOffersOneChance()
    {
        RawPeer peer;
        TPowersock sock(nullptr);
        int calls = 0;
        sock.OnConnectionRequired = [&](bool &handled) { ++calls; handled = true; };
        try {
            sock.CheckConnection();
            QFAIL("no connection, yet no error");
        } catch (const Exception &e) {
            QCOMPARE(e.Message, QStringLiteral("Not Connected"));
        }
        QCOMPARE(calls, 1);
        sock.OnConnectionRequired = [&](bool &handled) {
            sock.Host = QStringLiteral("127.0.0.1");
            sock.Port = peer.port();
            sock.Connect();
            handled = true;
        };
        sock.CheckConnection();
        QVERIFY(sock.Connected);
    }

    void readCountAndClearInput()
    {
        RawPeer peer;
        auto sock = connectedTo(peer);
        peer.send("abc");
        QTimer::singleShot(20, &peer, [&] { peer.send("defgh"); });
        QCOMPARE(sock->Read(6), QByteArray("abcdef"));
        QTRY_VERIFY(sock->DataAvailable());
        QCOMPARE(sock->Read(0), QByteArray("gh"));
        peer.send("junk");
        QTRY_VERIFY(sock->DataAvailable());
        sock->ClearInput();
        QVERIFY(!sock->DataAvailable());
    }

    void socketInfoDescribesTheLibrary()
    {
        // The first live component of the process fills it.
        TPowersock sock(nullptr);
        QCOMPARE(sock.SocketInfo.size(), 6);
        QVERIFY(sock.SocketInfo.at(0).startsWith(QLatin1String("Version= ")));
        QVERIFY(sock.SocketInfo.at(5).startsWith(QLatin1String("Max Udp pack size= ")));
    }
};

QTEST_MAIN(TestPowersock)
#include "tst_powersock.moc"

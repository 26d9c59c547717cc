// The socket helpers of the platform stand-in: error numbers, dotted
// addresses, and writes to a connection the peer has dropped.
#include "platform/Sockets.h"

#include <QtTest>

#include <cerrno>
#include <netinet/in.h>

namespace sock = platform::sock;

class TestSockets : public QObject
{
    Q_OBJECT

private slots:
    void errnoBecomesTheWindowsSocketsNumber_data()
    {
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<int>("wsa");
        QTest::newRow("refused") << ECONNREFUSED << 10061;
        QTest::newRow("timed out") << ETIMEDOUT << 10060;
        QTest::newRow("reset") << ECONNRESET << 10054;
        QTest::newRow("broken pipe") << EPIPE << 10054;
        QTest::newRow("not connected") << ENOTCONN << 10057;
        QTest::newRow("address in use") << EADDRINUSE << 10048;
        QTest::newRow("network unreachable") << ENETUNREACH << 10051;
        QTest::newRow("host unreachable") << EHOSTUNREACH << 10065;
        QTest::newRow("would block") << EWOULDBLOCK << 10035;
        QTest::newRow("in progress") << EINPROGRESS << 10035;
        QTest::newRow("none") << 0 << 0;
    }
    void errnoBecomesTheWindowsSocketsNumber()
    {
        QFETCH(int, errnoValue);
        QFETCH(int, wsa);
        QCOMPARE(sock::WsaErrorFromErrno(errnoValue), wsa);
    }

    // The classic inet_aton rules (octal, hex, shorthand) sent an upgrade
    // for "127.0.0.010" to 127.0.0.8: only four decimal groups are taken.
    void dottedAddressesAreFourDecimalGroups_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("dotted"); // empty: not an address
        QTest::newRow("plain") << QByteArray("10.0.0.7") << QByteArray("10.0.0.7");
        QTest::newRow("zeros mean nothing") << QByteArray("192.168.001.010") << QByteArray("192.168.1.10");
        QTest::newRow("not octal") << QByteArray("127.0.0.010") << QByteArray("127.0.0.10");
        QTest::newRow("no octal digit rule") << QByteArray("127.0.0.08") << QByteArray("127.0.0.8");
        QTest::newRow("all zeros") << QByteArray("000.000.000.000") << QByteArray("0.0.0.0");
        QTest::newRow("all ones is an address") << QByteArray("255.255.255.255") << QByteArray("255.255.255.255");
        QTest::newRow("short form") << QByteArray("127.1") << QByteArray();
        QTest::newRow("one number") << QByteArray("1") << QByteArray();
        QTest::newRow("three groups") << QByteArray("1.2.3") << QByteArray();
        QTest::newRow("hex") << QByteArray("0x7f.0.0.1") << QByteArray();
        QTest::newRow("five groups") << QByteArray("1.2.3.4.5") << QByteArray();
        QTest::newRow("empty group") << QByteArray("1..3.4") << QByteArray();
        QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << QByteArray();
        QTest::newRow("group too big") << QByteArray("10.0.0.256") << QByteArray();
        QTest::newRow("four digits") << QByteArray("0010.0.0.1") << QByteArray();
        QTest::newRow("sign") << QByteArray("+1.2.3.4") << QByteArray();
        QTest::newRow("blank after") << QByteArray("1.2.3.4 ") << QByteArray();
        QTest::newRow("name") << QByteArray("vx900") << QByteArray();
        QTest::newRow("empty") << QByteArray("") << QByteArray();
        QTest::newRow("NUL and more") << QByteArray("1.2.3.4\0junk", 12) << QByteArray();
    }
    void dottedAddressesAreFourDecimalGroups()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, dotted);
        const std::optional<std::uint32_t> a = sock::ParseDottedAddress(QString::fromLatin1(text));
        QCOMPARE(a.has_value(), !dotted.isEmpty());
        if (a)
            QCOMPARE(sock::DottedAddress(*a), dotted);
        QCOMPARE(sock::CanonicalAddress(QString::fromLatin1(text)).value_or(QString()), QString::fromLatin1(dotted));
        // Beyond Latin-1 nothing is an address, digits of other scripts included.
        QVERIFY(!sock::ParseDottedAddress(QString::fromLatin1(text) + QChar(0x2024)));
        QVERIFY(!sock::ParseDottedAddress(QString::fromLatin1(text).replace(u'1', QChar(0x0661))) || !text.contains('1'));
    }

    void writingToADroppedConnectionIsAnErrorNotASignal()
    {
        // Without MSG_NOSIGNAL the second write below would end this process.
        const int listener = sock::CreateTcpSocket();
        QVERIFY(sock::BindAny(listener, 0) && sock::ListenOn(listener, 1));
        std::uint32_t address = 0;
        std::uint16_t port = 0;
        QVERIFY(sock::LocalName(listener, address, port));
        const int client = sock::CreateTcpSocket();
        QVERIFY(sock::StartConnect(client, htonl(INADDR_LOOPBACK), port));
        QVERIFY(sock::WaitWritable(client, 5000));
        int accepted = sock::InvalidSocket;
        for (int i = 0; i < 500 && accepted == sock::InvalidSocket; ++i) {
            std::uint32_t peer = 0;
            std::uint16_t peerPort = 0;
            accepted = sock::AcceptPeer(listener, peer, peerPort);
            if (accepted == sock::InvalidSocket)
                QVERIFY(sock::WaitWritable(client, 10));
        }
        QVERIFY(accepted != sock::InvalidSocket);
        QVERIFY(sock::SetLinger(accepted, true, 0));
        QVERIFY(sock::CloseSocket(accepted)); // the peer resets the connection

        QList<int> errors;
        for (int attempt = 0; attempt < 4; ++attempt) {
            QVERIFY(sock::WaitWritable(client, 5000));
            if (sock::Send(client, "data", 4) < 0)
                errors << sock::LastSocketError();
        }
        QVERIFY(errors.size() >= 2); // the reset, then the broken pipe
        for (int e : errors)
            QCOMPARE(e, 10054);
        QVERIFY(sock::CloseSocket(client));
        QVERIFY(sock::CloseSocket(listener));
    }
};

QTEST_MAIN(TestSockets)
#include "tst_sockets.moc"

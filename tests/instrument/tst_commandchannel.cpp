// The command channel and the instrument's file-system commands against a
// scripted peer: the bytes on the wire, the replies as read, the outcomes.
#include "FakePeer.h"

#include "ftp/ESockError.h"
#include "instrument/TClientSocket.h"
#include "instrument/Uvx900.h"
#include "platform/Exception.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <vector>

using Step = FakePeer::Step;
using Script = QList<Step>;

Q_DECLARE_METATYPE(Script)

namespace {

const QByteArray NoError = "0,\"No error\"\n";
// A free-space result that stands for "raises EConvertError".
constexpr qint64 ConversionError = std::numeric_limits<qint64>::min();
const QByteArray PathError = "-256,\"File name not found\"\n";

void openChannel(TfrmVX900 &link, const FakePeer &peer, const QString &address = "127.0.0.1")
{
    link.ClientSocket->Address = address;
    link.ClientSocket->Port = peer.port();
    link.ClientSocket->Open();
}

} // namespace

class TestCommandChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The default action, as in the tool: a write that raised SIGPIPE
        // would end this test program instead of raising the socket error.
        std::signal(SIGPIPE, SIG_DFL);
    }

    void sendCommandEndsEveryLineWithOneLineFeed_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("empty") << QByteArray() << QByteArray("\n");
        QTest::newRow("query") << QByteArray("*IDN?") << QByteArray("*IDN?\n");
        QTest::newRow("ends in LF") << QByteArray("A\n") << QByteArray("A\n");
        QTest::newRow("ends in CR") << QByteArray("A\r") << QByteArray("A\r\n");
        const QByteArray longCommand(70000, 'x'); // larger than any socket buffer
        QTest::newRow("long") << longCommand << longCommand + '\n';
    }

    void sendCommandEndsEveryLineWithOneLineFeed()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, wire);
        FakePeer peer;
        {
            TfrmVX900 link(nullptr);
            openChannel(link, peer);
            link.SendCommand(command);
        }
        QCOMPARE(peer.transcript(), wire);
    }

    void readResponseKeepsTheLineWhole_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::newRow("CR LF kept") << QByteArray("ALVO\r\n") << QList<QByteArray>{"ALVO\r\n"};
        QTest::newRow("NUL dropped") << QByteArray("a\0b\n", 4) << QList<QByteArray>{"ab\n"};
        QTest::newRow("two lines, two reads") << QByteArray("one\ntwo\n") << QList<QByteArray>{"one\n", "two\n"};
        QTest::newRow("closed mid-line, then empty")
            << QByteArray("partial") << QList<QByteArray>{"partial", "", ""};
    }

    void readResponseKeepsTheLineWhole()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QList<QByteArray>, replies);
        FakePeer peer({{sent, FakePeer::Close}});
        TfrmVX900 link(nullptr);
        openChannel(link, peer);
        link.SendCommand("*IDN?");
        for (const QByteArray &expected : replies) {
            QByteArray reply = "stale";
            link.ReadResponse(reply);
            QCOMPARE(reply, expected);
        }
    }

    void operationsWriteTheirLinesAndReadTheErrorQueue_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("name");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("result");
        enum { Cdir, Subdir, Mkdir };
        const QByteArray cdirRoot = ":MMEM:CDIR \"/F0:/\"\n:SYSTEM:ERR?\n";
        QTest::newRow("error queue 0") << int(Cdir) << "/F0:/" << "" << Script{{}, {NoError}} << cdirRoot << true;
        QTest::newRow("error queue 0 then anything")
            << int(Cdir) << "/F0:/" << "" << Script{{}, {"0junk\n"}} << cdirRoot << true;
        QTest::newRow("error queue +0") << int(Cdir) << "/F0:/" << "" << Script{{}, {"+0,\"x\"\n"}} << cdirRoot << false;
        QTest::newRow("error queue -") << int(Cdir) << "/F0:/" << "" << Script{{}, {PathError}} << cdirRoot << false;
        QTest::newRow("error queue blank first") << int(Cdir) << "/F0:/" << "" << Script{{}, {" 0\n"}} << cdirRoot << false;
        QTest::newRow("no reply at all") << int(Cdir) << "/F0:/" << "" << Script{{}, {"", FakePeer::Close}} << cdirRoot << false;
        QTest::newRow("empty path") << int(Cdir) << "" << "" << Script{{}, {NoError}}
                                    << QByteArray(":MMEM:CDIR \"\"\n:SYSTEM:ERR?\n") << true;
        const QString longPath = "/F0:/" + QString(300, 'L');
        QTest::newRow("path past 113 bytes sent whole")
            << int(Cdir) << longPath << "" << Script{{}, {NoError}}
            << ":MMEM:CDIR \"" + longPath.toUtf8() + "\"\n:SYSTEM:ERR?\n" << true;
        QTest::newRow("subdirectory of the root")
            << int(Subdir) << "/F0:/" << "KRN3" << Script{{}, {NoError}}
            << QByteArray(":MMEM:CDIR \"/F0://KRN3\"\n:SYSTEM:ERR?\n") << true;
        QTest::newRow("subdirectory of SYSTEM")
            << int(Subdir) << "/F0:/SYSTEM" << "MID3" << Script{{}, {PathError}}
            << QByteArray(":MMEM:CDIR \"/F0:/SYSTEM/MID3\"\n:SYSTEM:ERR?\n") << false;
        QTest::newRow("make directory")
            << int(Mkdir) << "/F0:/SYSTEM" << "MID3" << Script{{}, {NoError}, {}, {NoError}}
            << QByteArray(":MMEM:CDIR \"/F0:/SYSTEM\"\n:SYSTEM:ERR?\nMMEM:MDIR \"MID3\"\n:SYSTEM:ERR?\n") << true;
        QTest::newRow("make directory refused")
            << int(Mkdir) << "/F0:/SYSTEM" << "MID3" << Script{{}, {NoError}, {}, {"-257,\"exists\"\n"}}
            << QByteArray(":MMEM:CDIR \"/F0:/SYSTEM\"\n:SYSTEM:ERR?\nMMEM:MDIR \"MID3\"\n:SYSTEM:ERR?\n") << false;
        QTest::newRow("make directory, parent missing: no MDIR")
            << int(Mkdir) << "/F0:/NOPE" << "MID3" << Script{{}, {PathError}}
            << QByteArray(":MMEM:CDIR \"/F0:/NOPE\"\n:SYSTEM:ERR?\n") << false;
    }

    void operationsWriteTheirLinesAndReadTheErrorQueue()
    {
        QFETCH(int, operation);
        QFETCH(QString, parent);
        QFETCH(QString, name);
        QFETCH(Script, script);
        QFETCH(QByteArray, wire);
        QFETCH(bool, result);
        FakePeer peer(script);
        {
            TfrmVX900 link(nullptr);
            openChannel(link, peer);
            bool ok = !result;
            if (operation == 0)
                ok = link.ChangeDirectory(parent);
            else if (operation == 1)
                ok = link.ChangeSubdirectory(parent, name);
            else
                ok = link.MakeDirectory(parent, name);
            QCOMPARE(ok, result);
        }
        QCOMPARE(peer.transcript(), wire);
    }

    void hasDirectoryFindsOnlyTheQuotedName_data()
    {
        QTest::addColumn<QByteArray>("catalogue");
        QTest::addColumn<bool>("found");
        QTest::newRow("listed") << QByteArray("10,20,\"MID3\",DIR,0,\"NAME\",FILE,6\n") << true;
        QTest::newRow("longer name only") << QByteArray("10,20,\"NAMES\",FILE,6\n") << false;
        // The SCPI form: name, type and size in one quoted text.
        QTest::newRow("SCPI form") << QByteArray("10,20,\"NAME,FILE,6\"\n") << true;
        QTest::newRow("SCPI form, longer name") << QByteArray("10,20,\"NAMES,FILE,6\"\n") << false;
        QTest::newRow("unquoted") << QByteArray("10,20,NAME,FILE,6\n") << false;
        QTest::newRow("other case") << QByteArray("10,20,\"name\",FILE,6\n") << false;
        QTest::newRow("no reply") << QByteArray() << false;
    }

    void hasDirectoryFindsOnlyTheQuotedName()
    {
        QFETCH(QByteArray, catalogue);
        QFETCH(bool, found);
        FakePeer peer({{catalogue, FakePeer::Close}});
        {
            TfrmVX900 link(nullptr);
            openChannel(link, peer);
            QCOMPARE(link.HasDirectory("/F0:/SYSTEM/MID3", "NAME"), found);
        }
        QCOMPARE(peer.transcript(), QByteArray("MMEM:CAT? \"/F0:/SYSTEM/MID3\"\n"));
    }

    void freeSpaceIsTheSecondField_data()
    {
        QTest::addColumn<QByteArray>("catalogue");
        QTest::addColumn<qint64>("free"); // ConversionError: EConvertError
        QTest::newRow("plain") << QByteArray("1000,5000,\"KRN3\",DIR,0\n") << qint64(5000);
        QTest::newRow("blank after comma") << QByteArray("1000, 5000,\"KRN3\",DIR,0\n") << qint64(5000);
        QTest::newRow("2^31") << QByteArray("0,2147483648,\n") << qint64(2147483648);
        QTest::newRow("2^32 + 1") << QByteArray("0,4294967297,\n") << qint64(4294967297);
        QTest::newRow("largest") << QByteArray("0,9223372036854775807,\n") << qint64(9223372036854775807);
        // A negative figure is a drive over 2 GiB seen through a signed
        // 32-bit field; below that range no instrument could have sent it.
        QTest::newRow("negative stays negative") << QByteArray("0,-5,\n") << qint64(-5);
        QTest::newRow("-2^31") << QByteArray("0,-2147483648,\n") << qint64(-2147483648);
        QTest::newRow("below -2^31") << QByteArray("0,-2147483649,\n") << ConversionError;
        QTest::newRow("-9999999999") << QByteArray("0,-9999999999,\n") << ConversionError;
        QTest::newRow("64-bit minimum") << QByteArray("0,-9223372036854775808,\n") << ConversionError;
        QTest::newRow("hex reading as 64-bit minimum") << QByteArray("0,$8000000000000000,\n") << ConversionError;
        QTest::newRow("hex $") << QByteArray("0,$FF,\n") << qint64(255);
        QTest::newRow("hex 0x") << QByteArray("0,0x10,\n") << qint64(16);
        QTest::newRow("past 64 bits") << QByteArray("0,9223372036854775808,\n") << ConversionError;
        QTest::newRow("no second comma") << QByteArray("1000,5000\n") << ConversionError;
        QTest::newRow("no comma") << QByteArray("5000\n") << ConversionError;
        QTest::newRow("empty field") << QByteArray("1000,,\n") << ConversionError;
        QTest::newRow("trailing blank") << QByteArray("1000,5000 ,\n") << ConversionError;
        QTest::newRow("letters") << QByteArray("1000,12ab,\n") << ConversionError;
        QTest::newRow("sign only") << QByteArray("1000,-,\n") << ConversionError;
        QTest::newRow("channel closed") << QByteArray() << ConversionError;
    }

    void freeSpaceIsTheSecondField()
    {
        QFETCH(QByteArray, catalogue);
        QFETCH(qint64, free);
        FakePeer peer({{catalogue, FakePeer::Close}});
        {
            TfrmVX900 link(nullptr);
            openChannel(link, peer);
            if (free == ConversionError) {
                QVERIFY_THROWS_EXCEPTION(EConvertError, (void)link.FreeSpace());
            } else {
                QCOMPARE(link.FreeSpace(), free);
            }
        }
        QCOMPARE(peer.transcript(), QByteArray("MMEM:CAT? \"/F0:/\"\n"));
    }

    // Quotes and control characters would break the command line's quoting
    // or end the line early; such names are refused before anything is sent.
    void unquotableNamesAreRefusedUnsent_data()
    {
        QTest::addColumn<QString>("bad");
        QTest::newRow("double quote") << "MID\"3";
        QTest::newRow("CR") << "MID3\r";
        QTest::newRow("LF injects a command") << "MID3\"\nMMEM:DEL \"X";
        QTest::newRow("NUL") << QString::fromLatin1("MID\0" "3", 5);
        QTest::newRow("tab") << "MID\t3";
        QTest::newRow("DEL") << "MID\x7f" "3";
    }

    void unquotableNamesAreRefusedUnsent()
    {
        QFETCH(QString, bad);
        FakePeer peer({{NoError}, {NoError}, {NoError}, {NoError}});
        {
            TfrmVX900 link(nullptr);
            openChannel(link, peer);
            QVERIFY(!link.ChangeDirectory("/F0:/" + bad));
            QVERIFY(!link.ChangeSubdirectory("/F0:/SYSTEM", bad));
            QVERIFY(!link.ChangeSubdirectory(bad, "MID3"));
            QVERIFY(!link.HasDirectory("/F0:/SYSTEM", bad));
            QVERIFY(!link.HasDirectory(bad, "NAME"));
            QVERIFY(!link.MakeDirectory("/F0:/SYSTEM", bad));
            QVERIFY(!link.MakeDirectory(bad, "MID3"));
        }
        QCOMPARE(peer.transcript(), QByteArray());
    }

    void silentInstrumentTimesOutAndClosesTheChannel()
    {
        FakePeer peer; // reads, never answers
        TfrmVX900 link(nullptr);
        link.ClientSocket->TimeOut = 200;
        openChannel(link, peer);
        link.SendCommand("*IDN?");
        QByteArray reply;
        try {
            link.ReadResponse(reply);
            QFAIL("a reply that never comes must time out");
        } catch (const ESockError &error) {
            QCOMPARE(error.Message, QString("10060:Connection timed out"));
        }
        QVERIFY(!link.ClientSocket->Active());
        link.SendCommand(":SYSTEM:ERR?"); // closed: nothing is written
        QCOMPARE(peer.transcript(), QByteArray("*IDN?\n"));
    }

    // Bytes that never stop and never hold a line feed: the read ends with
    // a clear error at the line limit or at the deadline, and the channel
    // is closed, since the rest of the line would be read as the next reply.
    void endlessReplyWithoutLineFeedIsBounded_data()
    {
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<qsizetype>("maxLength");
        QTest::addColumn<QString>("error");
        QTest::newRow("line limit") << 60000 << qsizetype(4096)
                                    << "The instrument's reply is longer than 4096 bytes";
        QTest::newRow("deadline while bytes keep coming")
            << 200 << std::numeric_limits<qsizetype>::max() << "10060:Connection timed out";
    }
    void endlessReplyWithoutLineFeedIsBounded()
    {
        QFETCH(int, timeOut);
        QFETCH(qsizetype, maxLength);
        QFETCH(QString, error);
        FakePeer peer({{QByteArray(1000, 'x'), FakePeer::Stream}});
        TfrmVX900 link(nullptr);
        link.ClientSocket->TimeOut = timeOut;
        link.MaxReplyLength = maxLength;
        openChannel(link, peer);
        link.SendCommand("*IDN?");
        QByteArray reply;
        try {
            link.ReadResponse(reply);
            QFAIL("an endless reply was taken");
        } catch (const ESockError &e) {
            QCOMPARE(e.Message, error);
        }
        QVERIFY(!link.ClientSocket->Active());
    }

    void connectTimesOutWhenTheInstrumentNeverAccepts()
    {
        // A listener whose queue is full drops further connection requests,
        // so the client's connect waits exactly as for a dead host.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        QVERIFY(::listen(listener, 0) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        std::vector<TClientSocket> fillers(4); // also a closed TClientSocket's destructor is tested here
        TClientSocket client;
        client.Address = "127.0.0.1";
        client.Port = ntohs(address.sin_port);
        client.TimeOut = 300;
        bool timedOut = false;
        for (auto &filler : fillers) {
            filler.Address = client.Address;
            filler.Port = client.Port;
            filler.TimeOut = 300;
            try {
                filler.Open();
            } catch (const ESockError &error) {
                QCOMPARE(error.Message, QString("10060:Connection timed out"));
                QVERIFY(!filler.Active());
                timedOut = true;
                break;
            }
        }
        ::close(listener);
        QVERIFY(timedOut);
    }

    void channelClosedByTheInstrumentFailsLaterWritesWithoutSigpipe()
    {
        FakePeer peer({{"VX9", FakePeer::Close}});
        TfrmVX900 link(nullptr);
        openChannel(link, peer);
        link.SendCommand("*IDN?");
        QByteArray reply;
        link.ReadResponse(reply);
        QCOMPARE(reply, QByteArray("VX9"));
        QCOMPARE(peer.transcript(), QByteArray("*IDN?\n")); // the peer is gone now
        link.ReadResponse(reply);
        QCOMPARE(reply, QByteArray());
        // Not marked closed: writes go out until the platform reports the reset.
        link.SendCommand(":SYSTEM:ERR?");
        QVERIFY(link.ClientSocket->Active());
        try {
            for (int i = 0; i < 100; ++i)
                link.SendCommand(":SYSTEM:ERR?");
            QFAIL("writes to a closed peer must fail once it has reset them");
        } catch (const ESockError &error) {
            QCOMPARE(error.Message, QString("10054:Connection reset by peer"));
        }
        QVERIFY(!link.ClientSocket->Active());
    }

    void writeToResetChannelRaises()
    {
        FakePeer peer({{"", FakePeer::Reset}});
        TfrmVX900 link(nullptr);
        openChannel(link, peer);
        link.SendCommand("*IDN?");
        QCOMPARE(peer.transcript(), QByteArray("*IDN?\n")); // reset sent
        try {
            link.SendCommand(":SYSTEM:ERR?");
            QFAIL("a write to a reset channel must raise");
        } catch (const ESockError &error) {
            QCOMPARE(error.Message, QString("10054:Connection reset by peer"));
        }
        QVERIFY(!link.ClientSocket->Active());
    }

    void addressIsFourDecimalGroups_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("listenOn"); // empty: must not connect
        QTest::newRow("dotted") << "127.0.0.1" << QByteArray("127.0.0.1");
        QTest::newRow("zero-padded, not octal") << "127.0.0.010" << QByteArray("127.0.0.10");
        QTest::newRow("hex part") << "0x7f.0.0.1" << QByteArray();
        QTest::newRow("short form") << "127.1" << QByteArray();
        QTest::newRow("part too large") << "127.0.0.256" << QByteArray();
        QTest::newRow("host name: no lookup") << "localhost" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("NUL inside") << QString::fromLatin1("127.0.0.1\0x", 11) << QByteArray();
    }

    void addressIsFourDecimalGroups()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, listenOn);
        FakePeer peer({}, {}, listenOn.isEmpty() ? "127.0.0.1" : listenOn.constData());
        TClientSocket client;
        client.Address = address;
        client.Port = peer.port();
        if (listenOn.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(ESockError, client.Open());
            QVERIFY(!client.Active());
            QVERIFY(!peer.wasConnected());
        } else {
            client.Open();
            QVERIFY(client.Active());
            client.Close();
            QVERIFY(peer.wasConnected());
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandChannel)
#include "tst_commandchannel.moc"

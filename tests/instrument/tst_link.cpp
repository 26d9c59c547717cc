// The link's connection life and its FTP notifications, against scripted
// peers for the command channel and the FTP server.
#include "BoxRecorder.h"
#include "FakePeer.h"
#include "LinkOnPorts.h"

#include "ftp/FtpTypes.h"
#include "ftp/TNMFTP.h"
#include "instrument/TClientSocket.h"
#include "instrument/Uvx900.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <memory>

using Box = BoxRecorder::Box;

namespace {

const QString LinkCaption = "VX900 Upgrade";
const QString FtpCaption = "VX900 Upgrade ftp";
const QByteArray FtpLogin = "USER kirosu\r\nPASS tovel4417\r\n";

// An FTP server that lets the link log in and says goodbye to QUIT.
std::unique_ptr<FakePeer> loginPeer()
{
    return std::make_unique<FakePeer>(
        QList<FakePeer::Step>{{"331 Password required\r\n"}, {"230 Logged in\r\n"}, {"221 Bye\r\n", FakePeer::Close}},
        "220 VX900 FTP\r\n");
}

std::unique_ptr<TfrmVX900> linkTo(quint16 commandPort, quint16 ftpPort)
{
    auto link = linkOnPorts(commandPort, ftpPort);
    link->ClientSocket->TimeOut = 5000;
    return link;
}

// TCP_NODELAY of every socket of this process connected to the loopback
// port, read back from the live descriptors.
QList<int> noDelayOfSocketsTo(quint16 port)
{
    QList<int> values;
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &name : fds) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int on = 0;
        socklen_t onLength = sizeof on;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 && peer.sin_family == AF_INET
            && ntohs(peer.sin_port) == port && getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &onLength) == 0)
            values << on;
    }
    return values;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void freshLinkIsClosedWithInstrumentPorts()
    {
        qunsetenv("VX900_CMD_PORT");
        qputenv("VX900_FTP_PORT", "70000"); // not a port: the instrument's own stays
        TfrmVX900 link(nullptr);
        qunsetenv("VX900_FTP_PORT");
        QCOMPARE(link.ClientSocket->Port, quint16(5000));
        QCOMPARE(link.NMFTP->Port, 21);
        QCOMPARE(link.ClientSocket->TimeOut, 60000);
        QVERIFY(!link.ClientSocket->Active());
        QVERIFY(!link.NMFTP->Connected);
        QVERIFY(link.LastTransferOk);
        QCOMPARE(link.NMFTP->parent(), &link);
    }

    void connectChecksTheIdentity_data()
    {
        QTest::addColumn<QByteArray>("idn");
        QTest::addColumn<bool>("identified");
        QTest::newRow("identity first") << QByteArray("ALVO/BRECKMOOR,VX900,0815,2.1\n") << true;
        QTest::newRow("text before it") << QByteArray("Maker ALVO/BRECKMOOR,VX900\r\n") << true;
        QTest::newRow("longer model field") << QByteArray("ALVO/BRECKMOOR,VX9000X,1\n") << true;
        QTest::newRow("lower case") << QByteArray("alvo/breckmoor,vx900,1\n") << false;
        QTest::newRow("other instrument") << QByteArray("ALVO/BRECKMOOR,VX800,1\n") << false;
        QTest::newRow("peer closed at once") << QByteArray() << false;
    }

    void connectChecksTheIdentity()
    {
        QFETCH(QByteArray, idn);
        QFETCH(bool, identified);
        FakePeer instrument({{idn, idn.isEmpty() ? FakePeer::Close : FakePeer::Stay}});
        auto ftp = loginPeer();
        auto link = linkTo(instrument.port(), ftp->port());
        BoxRecorder boxes;

        QCOMPARE(link->Connect("127.0.0.1"), identified);
        if (identified) {
            QCOMPARE(boxes.boxes, QList<Box>());
        } else {
            QCOMPARE(boxes.boxes, (QList<Box>{{"This instrument is not a VX900.\n\nCan not continue.", LinkCaption, 16}}));
        }
        // Either way both connections stay open for the caller to close.
        QVERIFY(link->ClientSocket->Active());
        QVERIFY(link->NMFTP->Connected);
        QCOMPARE(link->NMFTP->Host, QString("127.0.0.1"));

        link->Disconnect();
        QVERIFY(!link->ClientSocket->Active());
        QVERIFY(!link->NMFTP->Connected);
        QCOMPARE(instrument.transcript(), QByteArray("*IDN?\n"));
        QCOMPARE(ftp->transcript(), FtpLogin + "QUIT\r\n");
        QCOMPARE(boxes.boxes.size(), identified ? 0 : 1); // Disconnect shows nothing
    }

    void refusedCommandChannelShowsOneBoxAndLeavesFtpAlone()
    {
        auto ftp = loginPeer();
        auto link = linkTo(closedLoopbackPort(), ftp->port());
        BoxRecorder boxes;
        QVERIFY(!link->Connect("127.0.0.1"));
        QCOMPARE(boxes.boxes, (QList<Box>{{"Can't connect VX900.\n\nPlease check IP address.", LinkCaption, 16}}));
        QVERIFY(!link->ClientSocket->Active());
        QVERIFY(!ftp->wasConnected());
    }

    void unconvertibleAddressShowsTheConnectBox()
    {
        auto link = linkTo(closedLoopbackPort(), closedLoopbackPort());
        BoxRecorder boxes;
        QVERIFY(!link->Connect("192.168.1.x"));
        QCOMPARE(boxes.texts(), QStringList{"Can't connect VX900.\n\nPlease check IP address."});
    }

    void destructionClosesBothConnections()
    {
        FakePeer instrument({{"ALVO/BRECKMOOR,VX900\n"}});
        auto ftp = loginPeer();
        auto link = linkTo(instrument.port(), ftp->port());
        QVERIFY(link->Connect("127.0.0.1"));
        link.reset();
        QCOMPARE(instrument.transcript(), QByteArray("*IDN?\n")); // returns once the channel closed
        QCOMPARE(ftp->transcript(), FtpLogin + "QUIT\r\n");
    }

    // A command without a reply followed by the error query must not wait
    // for the instrument's delayed acknowledgement.
    void bothChannelsSendWithoutNagle()
    {
        FakePeer instrument({{"ALVO/BRECKMOOR,VX900\n"}});
        auto ftp = loginPeer();
        auto link = linkTo(instrument.port(), ftp->port());
        QVERIFY(link->Connect("127.0.0.1"));
        QCOMPARE(noDelayOfSocketsTo(instrument.port()), QList<int>{1});
        QCOMPARE(noDelayOfSocketsTo(ftp->port()), QList<int>{1});
    }

    void notificationsShowTheirKindsText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("unsupported");
        const char *kinds[] = {"ChangeDir", "MakeDir",  "Delete",       "RemoveDir",    "List",     "Rename",
                               "UploadRestore", "DownloadRestore", "Download", "Upload", "UploadAppend",
                               "Reinitialize", "Allocate", "NList", "DoCommand", "CurrentDir"};
        for (int kind = 0; kind < 16; ++kind) {
            QTest::newRow(kinds[kind]) << kind << QString(kinds[kind]) + " failed"
                                       << QString(kinds[kind]) + " not supported by this server";
        }
        QTest::newRow("below the kinds") << -1 << QString() << QString();
        QTest::newRow("past the kinds") << 16 << QString() << QString();
    }

    void notificationsShowTheirKindsText()
    {
        QFETCH(int, kind);
        QFETCH(QString, failed);
        QFETCH(QString, unsupported);
        TfrmVX900 link(nullptr);
        BoxRecorder boxes;

        link.NMFTPUnSupportedFunction(TCmdType(kind));
        QVERIFY(link.LastTransferOk); // not touched by "unsupported"
        bool handled = false;
        link.NMFTPFailure(handled, TCmdType(kind));
        QVERIFY(!handled);
        QVERIFY(!link.LastTransferOk); // cleared even when no box is shown
        link.NMFTPSuccess(TCmdType(kind));
        QVERIFY(link.LastTransferOk);

        QList<Box> expected;
        if (!failed.isEmpty())
            expected = {{unsupported, FtpCaption, 16}, {failed, FtpCaption, 16}};
        QCOMPARE(boxes.boxes, expected);
    }

    void authenticationFailedShowsItsBoxOnly()
    {
        TfrmVX900 link(nullptr);
        link.LastTransferOk = false;
        BoxRecorder boxes;
        bool handled = false;
        link.NMFTPAuthenticationFailed(handled);
        QVERIFY(!handled);
        QVERIFY(!link.LastTransferOk);
        QCOMPARE(boxes.boxes, (QList<Box>{{"Authentication Failed", FtpCaption, 16}}));
    }

    void ftpNotificationsReachTheHandlers()
    {
        TfrmVX900 link(nullptr);
        BoxRecorder boxes;
        bool handled = false;
        QVERIFY(link.NMFTP->OnUnSupportedFunction && link.NMFTP->OnFailure && link.NMFTP->OnSuccess
                && link.NMFTP->OnAuthenticationFailed);
        link.NMFTP->OnUnSupportedFunction(TCmdType::MakeDir);
        link.NMFTP->OnFailure(handled, TCmdType::Upload);
        QVERIFY(!link.LastTransferOk);
        link.NMFTP->OnSuccess(TCmdType::DoCommand);
        QVERIFY(link.LastTransferOk);
        link.NMFTP->OnAuthenticationFailed(handled);
        QCOMPARE(boxes.texts(), (QStringList{"MakeDir not supported by this server", "Upload failed",
                                             "Authentication Failed"}));
    }
};

QTEST_MAIN(TestLink)
#include "tst_link.moc"

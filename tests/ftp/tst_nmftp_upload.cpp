// The FTP engine's upload against a scripted fake peer: the commands on the
// wire, the bytes that arrived, the notifications and the outcome.
#include "FtpSession.h"

#include <QThread>

#include <limits>
#include <QtTest>

using Action = FakeFtpPeer::Action;

namespace {

// The transfer lock is free when another thread can take it.
bool transferLockIsFree(TNMFTP &ftp)
{
    bool free = false;
    QThread *t = QThread::create([&] {
        free = ftp.TransferLock.tryLock();
        if (free)
            ftp.TransferLock.unlock();
    });
    t->start();
    t->wait();
    delete t;
    return free;
}

void scriptTransfer(FtpSession &s, bool passive, const QByteArray &verdict = "226 Transfer complete\r\n")
{
    s.ftp->Passive = passive;
    s.peer.reply(passive ? "227 Entering Passive Mode (%PASV%).\r\n" : "200 PORT ok\r\n");
    s.peer.reply("150 Opening data connection\r\n");
    s.peer.reply(verdict);
}

} // namespace

class TestNMFTPUpload : public QObject
{
    Q_OBJECT

private slots:
    void uploads_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("size");
        QTest::newRow("active, 100000 bytes") << false << qint64(100000);
        QTest::newRow("passive, 100000 bytes") << true << qint64(100000);
        QTest::newRow("active, empty file") << false << qint64(0);
        QTest::newRow("passive, empty file") << true << qint64(0);
    }
    void uploads()
    {
        QFETCH(bool, passive);
        QFETCH(qint64, size);
        FtpSession s;
        s.logIn();
        const QString local = s.makeFile(QStringLiteral("module.bin"), size);
        scriptTransfer(s, passive);
        int packets = 0;
        s.ftp->OnPacketSent = [&](QObject *sender) {
            QVERIFY(sender == s.ftp->DataSocket);
            ++packets;
        };
        QVERIFY(s.ftp->Upload(local, QStringLiteral("/F0:/KRN3/module.bin")).Succeeded());

        QCOMPARE(s.peer.dataBytes, FtpSession::pattern(size));
        QCOMPARE(s.peer.dataConnections, 1);
        QCOMPARE(s.ftp->BytesTotal, size);
        QCOMPARE(s.log, (QStringList{"start", "stop", "success 9"}));
        QCOMPARE(packets > 0, size > 0);
        QCOMPARE(s.peer.commands.last(), QByteArray("STOR /F0:/KRN3/module.bin"));
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(transferLockIsFree(*s.ftp));
        QVERIFY(s.ftp->Connected);
    }

    // The count of bytes sent goes on past 2 GiB: the data socket's counter
    // is set just short of it before the first byte goes (no 2 GiB file needed).
    void bytesSentCountsPastTwoGibibytes()
    {
        FtpSession s;
        s.logIn();
        const qint64 size = 200000;
        const QString local = s.makeFile(QStringLiteral("big.bin"), size);
        scriptTransfer(s, false);
        const qint64 start = std::numeric_limits<qint32>::max() - 10;
        qint64 last = 0;
        s.ftp->OnTransactionStart = [&](QObject *) { s.ftp->DataSocket->BytesSent = start; };
        s.ftp->OnPacketSent = [&](QObject *sender) { last = static_cast<TPowersock *>(sender)->BytesSent; };
        QVERIFY(s.ftp->Upload(local, QStringLiteral("/F0:/big.bin")).Succeeded());

        QCOMPARE(last, start + size);
    }

    // A "425" text line inside a 150 block is part of that reply: the
    // verdict read after the transfer is the server's real one, and the
    // dialogue stays in step for the next upload.
    void multiLineStorReplyIsReadToItsEnd()
    {
        FtpSession s;
        s.logIn();
        const QString local = s.makeFile(QStringLiteral("a.bin"), 1000);
        s.peer.reply("200 PORT ok\r\n");
        s.peer.reply("150-Opening data connection\r\n425 is only text here\r\n150 Go ahead\r\n");
        s.peer.reply("451 Disk full\r\n");
        const FtpResult result = s.ftp->Upload(local, QStringLiteral("/F0:/a.bin"));
        QVERIFY(!result.Succeeded());
        QCOMPARE(result.Kind(), FtpResult::Failure::Refused);
        QCOMPARE(result.Text(), QStringLiteral("451 Disk full\r\n"));
        scriptTransfer(s, false);
        QVERIFY(s.ftp->Upload(local, QStringLiteral("/F0:/b.bin")).Succeeded());
        QCOMPARE(s.log, (QStringList{"start", "stop", "failure 9", "start", "stop", "success 9"}));
        QCOMPARE(s.peer.dataBytes, FtpSession::pattern(1000).repeated(2));
        QVERIFY(s.peer.script.isEmpty());
    }

    void portCommandNamesTheListeningPort()
    {
        FtpSession s;
        s.logIn();
        const QString local = s.makeFile(QStringLiteral("a.txt"), 10);
        scriptTransfer(s, false);
        quint16 listening = 0;
        s.ftp->OnTransactionStart = [&](QObject *) { listening = 1; };
        QVERIFY(s.ftp->Upload(local, QString()).Succeeded());
        const QByteArray port = s.peer.commands.at(2);
        QVERIFY2(port.startsWith("PORT 127,0,0,1,"), port.constData());
        const QList<QByteArray> f = port.mid(5).split(',');
        QCOMPARE(f.size(), 6);
        QVERIFY(f[4].toInt() * 256 + f[5].toInt() > 0);
        QVERIFY(listening);
        // An empty remote name stores under the local name without its folder.
        QCOMPARE(s.peer.commands.at(3), QByteArray("STOR a.txt"));
    }

    void storRefused_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("553, unhandled") << QByteArray("553 Not allowed\r\n") << false
                                        << QStringList{"failure 9", "failure 9"};
        QTest::newRow("553, handled") << QByteArray("553 Not allowed\r\n") << true << QStringList{"failure 9"};
        QTest::newRow("502, unhandled") << QByteArray("502 No STOR\r\n") << false
                                        << QStringList{"unsupported 9", "failure 9", "failure 9"};
    }
    void storRefused()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, handled);
        QFETCH(QStringList, notes);
        FtpSession s;
        s.logIn();
        s.handleFailure = handled;
        const QString local = s.makeFile(QStringLiteral("a.bin"), 10);
        s.peer.reply("200 PORT ok\r\n");
        s.peer.reply(reply);
        // Handled spares the second notification, not the failure.
        const FtpResult result = s.ftp->Upload(local, QStringLiteral("/F0:/a.bin"));
        QCOMPARE(result.Kind(), FtpResult::Failure::Refused);
        QCOMPARE(result.Text(), QString::fromLatin1(reply));
        QCOMPARE(s.log, notes);
        QCOMPARE(s.peer.dataConnections, 0);
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(transferLockIsFree(*s.ftp));
    }

    void portOrPasvRefused_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("PORT 500") << false << QByteArray("500 PORT not understood\r\n");
        QTest::newRow("PASV 502") << true << QByteArray("502 No passive mode\r\n");
    }
    void portOrPasvRefused()
    {
        QFETCH(bool, passive);
        QFETCH(QByteArray, reply);
        FtpSession s;
        s.logIn();
        s.ftp->Passive = passive;
        s.peer.reply(reply);
        QCOMPARE(s.ftp->Upload(s.makeFile("a", 1), QStringLiteral("a")).Text(), QString::fromLatin1(reply));
        // Only STOR earns the unsupported notification.
        QCOMPARE(s.log, (QStringList{"failure 9", "failure 9"}));
        QVERIFY(!s.peer.commands.last().startsWith("STOR"));
    }

    void badTransferCompleteReplyIsAFailedUpload_data()
    {
        QTest::addColumn<QByteArray>("verdict");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QString>("message");
        QTest::newRow("552 disk full") << QByteArray("552 Disk full\r\n") << false
                                       << QStringList{"start", "stop", "failure 9"}
                                       << "552 Disk full\r\n";
        QTest::newRow("426 aborted") << QByteArray("426 Transfer aborted\r\n") << false
                                     << QStringList{"start", "stop", "failure 9"}
                                     << "426 Transfer aborted\r\n";
        QTest::newRow("451, handled") << QByteArray("451 Local error\r\n") << true
                                      << QStringList{"start", "stop", "failure 9"} << "";
        QTest::newRow("closed before the verdict") << QByteArray() << false
                                                   << QStringList{"start", "stop", "failure 9"}
                                                   << "Connection closed by the server before the transfer-complete reply";
    }
    void badTransferCompleteReplyIsAFailedUpload()
    {
        QFETCH(QByteArray, verdict);
        QFETCH(bool, handled);
        QFETCH(QStringList, notes);
        QFETCH(QString, message);
        FtpSession s;
        s.logIn();
        s.handleFailure = handled;
        scriptTransfer(s, false, verdict);
        if (verdict.isEmpty())
            s.peer.script.last().action = Action::ReplyAndClose;
        const FtpResult result = s.ftp->Upload(s.makeFile("a.bin", 5000), QStringLiteral("a.bin"));
        QCOMPARE(result.Kind(), FtpResult::Failure::Refused);
        if (!handled)
            QCOMPARE(result.Text(), message);
        QCOMPARE(s.log, notes); // never "success 9"
        QCOMPARE(s.peer.dataBytes.size(), 5000);
    }

    void resetDataConnectionIsASocketErrorNotASignal()
    {
        FtpSession s;
        s.logIn();
        scriptTransfer(s, false, "426 Connection reset\r\n");
        s.peer.resetDataAfter = 100000;
        const FtpResult result = s.ftp->Upload(s.makeFile("big.bin", 8 << 20), QStringLiteral("big.bin"));
        QCOMPARE(result.Kind(), FtpResult::Failure::Connection);
        const QString raised = result.Text();
        // Reported as the reset (or, had the close been seen first, as a
        // socket no longer connected): in either case a socket error.
        QVERIFY2(raised.startsWith(QLatin1String("10054:")) || raised.startsWith(QLatin1String("10057:")),
                 qPrintable(raised));
        QCOMPARE(s.log, (QStringList{"start", "failure 9"}));
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(transferLockIsFree(*s.ftp));
    }

    void malformedPassiveReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("no parenthesis") << QByteArray("227 Entering Passive Mode (127,0,0,1,19,137\r\n");
        QTest::newRow("not a number") << QByteArray("227 Entering Passive Mode (127,0,0,1,x,137)\r\n");
        QTest::newRow("too few fields") << QByteArray("227 Entering Passive Mode (127,0,0,1)\r\n");
        QTest::newRow("port part over 255") << QByteArray("227 Entering Passive Mode (127,0,0,1,300,1)\r\n");
    }
    void malformedPassiveReply()
    {
        QFETCH(QByteArray, reply);
        FtpSession s;
        s.logIn();
        s.ftp->Passive = true;
        s.peer.reply(reply);
        QCOMPARE(s.ftp->Upload(s.makeFile("a", 1), QStringLiteral("a")).Kind(), FtpResult::Failure::Malformed);
        QCOMPARE(s.log, QStringList{"failure 9"});
        QCOMPARE(s.peer.dataConnections, 0);
    }

    void localFileThatCannotBeOpened()
    {
        FtpSession s;
        s.logIn();
        const qsizetype before = s.peer.commands.size();
        const FtpResult result = s.ftp->Upload(s.folder.filePath(QStringLiteral("missing.bin")), QStringLiteral("x"));
        QVERIFY(!result.Succeeded());
        QVERIFY2(result.Text().startsWith(QLatin1String("Cannot open file")), qPrintable(result.Text()));
        QCOMPARE(s.log, QStringList{"failure 9"});
        QCOMPARE(s.peer.commands.size(), before); // nothing sent for it
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(transferLockIsFree(*s.ftp));
    }

    void uploadWhenNotConnected()
    {
        FtpSession s;
        const FtpResult result = s.ftp->Upload(s.makeFile("a", 1), QStringLiteral("a"));
        QVERIFY(!result.Succeeded());
        QCOMPARE(result.Text(), QStringLiteral("Not Connected"));
        QCOMPARE(s.log, QStringList{"failure 9"});
    }

    void remoteNameThatWouldInjectIsRefusedUnsent()
    {
        FtpSession s;
        s.logIn();
        const qsizetype before = s.peer.commands.size();
        QCOMPARE(s.ftp->Upload(s.makeFile("a", 1), QStringLiteral("a\r\nDELE /F0:/precious")).Kind(),
                 FtpResult::Failure::Local);
        QCoreApplication::processEvents();
        QCOMPARE(s.peer.commands.size(), before);
        QCOMPARE(s.log, QStringList{"failure 9"});
    }

    void serverThatNeverOpensTheDataConnectionTimesOut()
    {
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = 300;
        scriptTransfer(s, false);
        s.peer.dataNeverConnects = true;
        const FtpResult result = s.ftp->Upload(s.makeFile("a", 10), QStringLiteral("a"));
        QVERIFY(!result.Succeeded());
        QCOMPARE(result.Text(), QStringLiteral("Timed out waiting for the data connection"));
        QCOMPARE(s.log, QStringList{"failure 9"});
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(!s.ftp->Connected); // out of step with the server: a fresh log-in follows
        s.logIn();
        QVERIFY(s.ftp->Connected);
    }

    // The server owes its verdict on the half-sent file, so the control
    // connection goes too; the peer sees a reset, not a complete file.
    void serverThatStopsTakingDataTimesOut()
    {
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = 300;
        scriptTransfer(s, false);
        s.peer.script.last().action = Action::Silence;
        s.peer.dataStopsReading = true;
        const FtpResult result = s.ftp->Upload(s.makeFile("big", 16 << 20), QStringLiteral("big"));
        QVERIFY(!result.Succeeded());
        QVERIFY2(result.Text().startsWith("Timed out sending data"), qPrintable(result.Text()));
        QCOMPARE(s.log, (QStringList{"start", "failure 9"}));
        QVERIFY(s.ftp->DataSocket == nullptr);
        QVERIFY(!s.ftp->Connected);
    }

    void dataConnectionFromAnotherAddressIsTurnedAway_data()
    {
        QTest::addColumn<bool>("serverConnects");
        QTest::newRow("then the server connects") << true;
        QTest::newRow("and the server never does") << false;
    }
    void dataConnectionFromAnotherAddressIsTurnedAway()
    {
        QFETCH(bool, serverConnects);
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = serverConnects ? 10000 : 300;
        scriptTransfer(s, false);
        s.peer.strangerFrom = QStringLiteral("127.0.0.2"); // the server is 127.0.0.1
        s.peer.dataNeverConnects = !serverConnects;
        const QString local = s.makeFile("a", 100000);
        if (serverConnects) {
            QVERIFY(s.ftp->Upload(local, QStringLiteral("a")).Succeeded());
            QCOMPARE(s.peer.dataBytes, FtpSession::pattern(100000));
            QCOMPARE(s.log, (QStringList{"start", "stop", "success 9"}));
        } else {
            QCOMPARE(s.ftp->Upload(local, QStringLiteral("a")).Kind(), FtpResult::Failure::TimedOut);
            QCOMPARE(s.log, QStringList{"failure 9"});
        }
        QTRY_COMPARE(s.peer.strangersTurnedAway, 1);
        QVERIFY(s.peer.strangerBytes.isEmpty());
    }

    void fileThatShrinksWhileSentIsAFailure()
    {
        FtpSession s;
        s.logIn();
        scriptTransfer(s, false);
        const QString local = s.makeFile("shrinks", 8 << 20);
        s.ftp->OnPacketSent = [&](QObject *) { QFile::resize(local, 1 << 20); };
        const FtpResult result = s.ftp->Upload(local, QStringLiteral("shrinks"));
        QVERIFY(!result.Succeeded());
        QVERIFY2(result.Text().contains("ended early"), qPrintable(result.Text()));
        QCOMPARE(s.log, (QStringList{"start", "failure 9"}));
    }

    void verdictThatNeverComesTimesOut()
    {
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = 300;
        scriptTransfer(s, true, "");
        s.peer.script.last().action = Action::Silence;
        QCOMPARE(s.ftp->Upload(s.makeFile("a", 10), QStringLiteral("a")).Kind(), FtpResult::Failure::TimedOut);
        QCOMPARE(s.log, (QStringList{"start", "stop", "failure 9"}));
        QVERIFY(!s.ftp->Connected);
    }

    void abortFromAPacketHandlerEndsTheTransfer()
    {
        FtpSession s;
        s.logIn();
        scriptTransfer(s, true, "426 aborted\r\n");
        s.ftp->OnPacketSent = [&](QObject *) { s.ftp->Abort(); };
        const FtpResult result = s.ftp->Upload(s.makeFile("big", 4 << 20), QStringLiteral("big"));
        QVERIFY(!result.Succeeded());
        QCOMPARE(result.Kind(), FtpResult::Failure::Aborted);
        QCOMPARE(result.Text(), QStringLiteral("Socket send aborted"));
        QCOMPARE(s.log, (QStringList{"start", "failure 9"}));
        QVERIFY(s.peer.dataBytes.size() < (4 << 20));
    }

    void cancelBeforeTheVerdictIsNoSuccess()
    {
        FtpSession s;
        s.logIn();
        scriptTransfer(s, false);
        s.ftp->OnTransactionStart = [&](QObject *) { s.ftp->Cancel(); };
        QCOMPARE(s.ftp->Upload(s.makeFile("a", 10), QStringLiteral("a")).Kind(), FtpResult::Failure::Aborted);
        QCOMPARE(s.log, (QStringList{"stop", "failure 9"}));
        QVERIFY(s.peer.dataBytes.isEmpty());
        QVERIFY(!s.ftp->Canceled);
    }

    void secondUploadFromAHandlerIsRefused()
    {
        FtpSession s;
        s.logIn();
        scriptTransfer(s, false);
        const QString local = s.makeFile("a", 10);
        QString nested;
        s.ftp->OnTransactionStart = [&](QObject *) {
            nested = s.ftp->Upload(local, QStringLiteral("b")).Text();
        };
        QVERIFY(s.ftp->Upload(local, QStringLiteral("a")).Succeeded());
        QCOMPARE(nested, QStringLiteral("An upload is already running on this connection"));
        QCOMPARE(s.peer.dataBytes, FtpSession::pattern(10));
        QCOMPARE(s.log.last(), QStringLiteral("success 9"));
    }

    void staleInputIsDiscardedBeforeTheUpload()
    {
        FtpSession s;
        s.logIn();
        s.peer.reply("200 ok\r\n");
        QVERIFY(s.ftp->DoCommand(QStringLiteral("NOOP")).Succeeded());
        // An unasked-for line arrives; the next upload must not take it for
        // the answer to PORT.
        s.peer.script.clear();
        scriptTransfer(s, false);
        QTcpSocket *control = s.peer.findChild<QTcpSocket *>();
        QVERIFY(control);
        control->write("500 stale\r\n");
        control->flush();
        QTRY_VERIFY(s.ftp->DataAvailable());
        QVERIFY(s.ftp->Upload(s.makeFile("a", 3), QStringLiteral("a")).Succeeded());
        QCOMPARE(s.log.last(), QStringLiteral("success 9"));
    }
};

QTEST_MAIN(TestNMFTPUpload)
#include "tst_nmftp_upload.moc"

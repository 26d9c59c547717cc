// The FTP engine's log-in, commands and QUIT against a scripted fake peer.
#include "FtpSession.h"
#include "ftp/FtpReply.h"

#include <QtTest>

using Action = FakeFtpPeer::Action;

class TestNMFTPDialogue : public QObject
{
    Q_OBJECT

private slots:
    void newComponentDefaults()
    {
        TNMFTP ftp(nullptr);
        QCOMPARE(ftp.Port, 21);
        QCOMPARE(ftp.Vendor, 2411);
        QCOMPARE(ftp.Passive, false);
        QCOMPARE(ftp.FirewallType, TFirewallType::FTUser);
        QCOMPARE(ftp.TimeOut, 0);
        QVERIFY(!ftp.Connected);
        QVERIFY(ftp.DataSocket == nullptr);
    }

    void logInWithUserAndPassword()
    {
        FtpSession s;
        s.peer.reply("331 Password required\r\n");
        s.peer.reply("230 Logged in\r\n");
        QVERIFY(s.ftp->Connect().Succeeded());
        QVERIFY(s.ftp->Connected);
        QCOMPARE(s.log, QStringList{"connect"});
        QCOMPARE(s.peer.controlBytes, QByteArray("USER kirosu\r\nPASS tovel4417\r\n"));

        QVERIFY(s.ftp->Connect().Succeeded()); // logged in already: nothing is sent
        QCOMPARE(s.peer.commands.size(), 2);

        s.peer.reply("221 Goodbye\r\n");
        QVERIFY(s.ftp->Disconnect().Succeeded());
        QVERIFY(!s.ftp->Connected);
        QCOMPARE(s.peer.commands.last(), QByteArray("QUIT"));
        QTRY_VERIFY(s.peer.clientClosedControl);
    }

    void userAcceptedWithoutPassword()
    {
        FtpSession s;
        s.peer.reply("230 No password needed\r\n");
        QVERIFY(s.ftp->Connect().Succeeded());
        QVERIFY(s.ftp->Connected);
        QCOMPARE(s.peer.commands, QList<QByteArray>{"USER kirosu"});
    }

    void multiLineGreetingIsConsumedBeforeUser()
    {
        FtpSession s;
        s.peer.greeting = "220-Welcome\r\n to the fake\r\n220-second part\r\n220 ready\r\n";
        s.peer.reply("331 Password required\r\n");
        s.peer.reply("230 Logged in\r\n");
        s.ftp->ReportLevel = 1;
        QStringList heard;
        s.ftp->OnStatus = [&](QObject *, const QString &t) { heard << t; };
        QVERIFY(s.ftp->Connect().Succeeded());
        QVERIFY(s.ftp->Connected);
        QCOMPARE(heard.mid(0, 5), (QStringList{"220-Welcome\r\n", " to the fake\r\n", "220-second part\r\n",
                                              "220 ready\r\n", "USER kirosu"}));
        QVERIFY(!heard.join(QString()).contains("tovel4417")); // the password is never reported
    }

    void replyEndsOnlyAtItsOwnCodeAndASpace_data()
    {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("completedBy"); // index of the line that completes the reply
        QTest::newRow("one line") << QList<QByteArray>{"200 ok\r\n"} << 0;
        QTest::newRow("no dash in fourth place") << QList<QByteArray>{"200x\r\n"} << 0;
        QTest::newRow("short") << QList<QByteArray>{"20\r\n"} << 0;
        QTest::newRow("letters are no code") << QList<QByteArray>{"abc-x\r\n"} << 0;
        QTest::newRow("text lines that look like replies")
            << QList<QByteArray>{"150-a\r\n", "425 b\r\n", " c\r\n", "1500 d\r\n", "150-e\r\n", "150\r\n",
                                 "150 f\r\n"}
            << 6;
    }
    void replyEndsOnlyAtItsOwnCodeAndASpace()
    {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, completedBy);
        FtpReply::Assembler reply(lines.first());
        for (int i = 1; i < lines.size(); ++i) {
            QVERIFY2(!reply.Complete(), lines[i - 1].constData());
            reply.Add(lines[i]);
        }
        QVERIFY(reply.Complete());
        QCOMPARE(lines.size() - 1, completedBy);
    }

    // A whole reply must come within TimeOut and stay within its bounds
    // however its lines come; the connection is closed after such a reply.
    void endlessRepliesAreBounded_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("dribbled"); // more lines, one each 25 ms, then "220 ready"
        QTest::addColumn<int>("timeOut");
        QTest::addColumn<QString>("error");
        QTest::newRow("lines dribbled past TimeOut")
            << QByteArray("220-hello\r\n") << 40 << 300 << "Timed out waiting for a reply";
        QTest::newRow("lines at full speed")
            << "220-hello\r\n" + QByteArray("220-more\r\n").repeated(200000) + "220 ready\r\n" << 0 << 10000
            << "FTP reply longer than 1000 lines received";
        QTest::newRow("bytes at full speed")
            << "220-hello\r\n" + (QByteArray(4000, 'x') + "\r\n").repeated(100) + "220 ready\r\n" << 0 << 10000
            << "FTP reply longer than 262144 bytes received";
    }
    void endlessRepliesAreBounded()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(int, dribbled);
        QFETCH(int, timeOut);
        QFETCH(QString, error);
        FtpSession s;
        s.peer.greeting = greeting;
        s.peer.dribbleIntervalMs = 25;
        for (int i = 0; i < dribbled; ++i)
            s.peer.dribble << " still talking\r\n";
        if (dribbled)
            s.peer.dribble << "220 ready\r\n";
        s.peer.reply("331 Password required\r\n");
        s.peer.reply("230 Logged in\r\n");
        s.ftp->TimeOut = timeOut;
        const FtpResult result = s.ftp->Connect();
        QCOMPARE(result.Text(), error);
        QVERIFY(!s.ftp->Connected);
        QVERIFY(s.peer.commands.isEmpty());
        QTRY_VERIFY(s.peer.clientClosedControl);
    }

    void refusedLogIn_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("refusal");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::newRow("password refused") << QByteArray("220 hi\r\n")
            << QList<QByteArray>{"331 Password required\r\n", "530 Login incorrect\r\n", "221 Bye\r\n"}
            << QByteArray("530 Login incorrect\r\n") << QList<QByteArray>{"USER kirosu", "PASS tovel4417", "QUIT"};
        QTest::newRow("user refused") << QByteArray("220 hi\r\n")
            << QList<QByteArray>{"530 Not you\r\n", "221 Bye\r\n"}
            << QByteArray("530 Not you\r\n") << QList<QByteArray>{"USER kirosu", "QUIT"};
        QTest::newRow("greeting 421") << QByteArray("421 Too many users\r\n")
            << QList<QByteArray>{"221 Bye\r\n"}
            << QByteArray("421 Too many users\r\n") << QList<QByteArray>{"QUIT"};
    }
    void refusedLogIn()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, refusal);
        QFETCH(QList<QByteArray>, commands);
        FtpSession s;
        s.peer.greeting = greeting;
        for (const QByteArray &r : replies)
            s.peer.reply(r);
        const FtpResult result = s.ftp->Connect();
        QCOMPARE(result.Kind(), FtpResult::Failure::Refused);
        QCOMPARE(result.Text(), QString::fromLatin1(refusal));
        QCOMPARE(s.log, QStringList{"connection failed"}); // never "authentication failed"
        QCOMPARE(s.peer.commands, commands);
        QVERIFY(!s.ftp->Connected);
    }

    void serverClosingDuringLogInIsNoSuccess()
    {
        FtpSession s;
        s.peer.reply("", Action::ReplyAndClose);
        QCOMPARE(s.ftp->Connect().Text(), QStringLiteral("Connection closed by the server"));
        QVERIFY(!s.ftp->Connected);
        QVERIFY(!s.log.contains("connect"));
    }

    void authenticationNeededMayFillTheUser()
    {
        FtpSession s;
        s.ftp->UserID.clear();
        s.ftp->OnAuthenticationNeeded = [&](bool &) { s.ftp->UserID = QStringLiteral("late"); };
        s.peer.reply("331 Password required\r\n");
        s.peer.reply("230 Logged in\r\n");
        QVERIFY(s.ftp->Connect().Succeeded());
        QCOMPARE(s.peer.commands.first(), QByteArray("USER late"));
    }

    void proxyAndFirewallLogIn_data()
    {
        QTest::addColumn<int>("firewallType");
        QTest::addColumn<bool>("authenticate");
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::newRow("user@host") << int(TFirewallType::FTUser) << false
            << QList<QByteArray>{"USER kirosu@vx900.example", "PASS tovel4417"};
        QTest::newRow("site") << int(TFirewallType::FtSite) << false
            << QList<QByteArray>{"SITE vx900.example", "USER kirosu", "PASS tovel4417"};
        QTest::newRow("open, firewall log-in") << int(TFirewallType::FtOpen) << true
            << QList<QByteArray>{"USER fw", "PASS fwpass", "OPEN vx900.example", "USER kirosu", "PASS tovel4417"};
    }
    void proxyAndFirewallLogIn()
    {
        QFETCH(int, firewallType);
        QFETCH(bool, authenticate);
        QFETCH(QList<QByteArray>, commands);
        FtpSession s;
        // The proxy is the fake peer; the host is only named to it, never resolved.
        s.ftp->Host = QStringLiteral("vx900.example");
        s.ftp->Proxy = QStringLiteral("127.0.0.1");
        s.ftp->ProxyPort = s.peer.port();
        s.ftp->FirewallType = TFirewallType(firewallType);
        s.ftp->FWAuthenticate = authenticate;
        s.ftp->FWUserID = QStringLiteral("fw");
        s.ftp->FWPassword = QStringLiteral("fwpass");
        if (authenticate) {
            s.peer.reply("331 firewall password\r\n");
            s.peer.reply("230 firewall ok\r\n");
        }
        if (firewallType != int(TFirewallType::FTUser))
            s.peer.reply("200 connected to host\r\n");
        s.peer.reply("331 Password required\r\n");
        s.peer.reply("230 Logged in\r\n");
        QVERIFY(s.ftp->Connect().Succeeded());
        QVERIFY(s.ftp->Connected);
        QCOMPARE(s.peer.commands, commands);
    }

    void transferTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("ascii") << 1 << QByteArray("TYPE A\r\n");
        QTest::newRow("image") << 2 << QByteArray("TYPE I\r\n");
        QTest::newRow("local 8") << 3 << QByteArray("TYPE L 8\r\n");
        QTest::newRow("unknown") << 4 << QByteArray();
    }
    void transferTypes()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, wire);
        FtpSession s;
        s.logIn();
        const qsizetype before = s.peer.controlBytes.size();
        s.peer.reply("200 Type set\r\n");
        QVERIFY(s.ftp->SetTransferType(static_cast<TTransferType>(type)).Succeeded());
        QCOMPARE(s.peer.controlBytes.mid(before), wire);
        QCOMPARE(s.log, wire.isEmpty() ? QStringList{} : QStringList{"success 14"});
    }

    void doCommandClassifiesAndNotifies_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("handled");
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<bool>("refused");
        QTest::newRow("MKD refused") << "MKD new" << QByteArray("550 exists\r\n") << false
                                     << QStringList{"failure 1"} << true;
        QTest::newRow("MKD unsupported") << "MKD new" << QByteArray("502 not here\r\n") << false
                                         << QStringList{"unsupported 1", "failure 1"} << true;
        // Handled spares nothing here: the result is the refusal all the same.
        QTest::newRow("MKD refused, handled") << "MKD new" << QByteArray("550 exists\r\n") << true
                                              << QStringList{"failure 1"} << true;
        QTest::newRow("bare CWD") << "CWD" << QByteArray("250 ok\r\n") << false << QStringList{"success 0"} << false;
        QTest::newRow("lower-case cwd") << "cwd dir" << QByteArray("250 ok\r\n") << false
                                        << QStringList{"success 14"} << false;
        QTest::newRow("DELE") << "DELE f" << QByteArray("250 ok\r\n") << false << QStringList{"success 2"} << false;
        QTest::newRow("RMD") << "RMD d" << QByteArray("250 ok\r\n") << false << QStringList{"success 3"} << false;
        QTest::newRow("PWD") << "PWD" << QByteArray("257 \"/\"\r\n") << false << QStringList{"success 15"} << false;
        QTest::newRow("PWD with text") << "PWD x" << QByteArray("257 \"/\"\r\n") << false
                                       << QStringList{"success 14"} << false;
        QTest::newRow("reply 600 is success") << "NOOP" << QByteArray("600 odd\r\n") << false
                                              << QStringList{"success 14"} << false;
        QTest::newRow("421 is a failure") << "NOOP" << QByteArray("421 later\r\n") << false
                                          << QStringList{"failure 14"} << true;
    }
    void doCommandClassifiesAndNotifies()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, handled);
        QFETCH(QStringList, notes);
        QFETCH(bool, refused);
        FtpSession s;
        s.logIn();
        s.handleFailure = handled;
        s.peer.reply(reply);
        const FtpResult result = s.ftp->DoCommand(command);
        QCOMPARE(result.Kind(), refused ? FtpResult::Failure::Refused : FtpResult::Failure::None);
        QCOMPARE(result.Text(), refused ? QString::fromLatin1(reply) : QString());
        QCOMPARE(s.log, notes);
        QCOMPARE(s.peer.commands.last(), command.toLatin1());
    }

    void doCommandWithoutFailureHandlerIsRefused()
    {
        FtpSession s;
        s.logIn();
        s.ftp->OnFailure = nullptr;
        s.peer.reply("550 no\r\n");
        QCOMPARE(s.ftp->DoCommand(QStringLiteral("DELE x")).Text(), QStringLiteral("550 no\r\n"));
    }

    void commandsThatWouldInjectAreRefusedUnsent_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("CR LF") << QStringLiteral("NOOP\r\nDELE precious");
        QTest::newRow("LF") << QStringLiteral("CWD a\nDELE precious");
        QTest::newRow("CR") << QStringLiteral("CWD a\rb");
        QTest::newRow("NUL") << QStringLiteral("CWD a") + QChar(0) + QStringLiteral("b");
    }
    void commandsThatWouldInjectAreRefusedUnsent()
    {
        QFETCH(QString, command);
        FtpSession s;
        s.logIn();
        const QByteArray before = s.peer.controlBytes;
        QCOMPARE(s.ftp->DoCommand(command).Kind(), FtpResult::Failure::Local);
        QCoreApplication::processEvents();
        QCOMPARE(s.peer.controlBytes, before);
        QVERIFY(s.log.isEmpty());
    }

    void doCommandWhenNotConnected()
    {
        FtpSession s;
        int chances = 0;
        s.ftp->OnConnectionRequired = [&](bool &handled) {
            ++chances;
            s.logIn();
            handled = true;
        };
        s.peer.reply("200 ok\r\n");
        QVERIFY(s.ftp->DoCommand(QStringLiteral("NOOP")).Succeeded());
        QCOMPARE(chances, 1);
        QCOMPARE(s.log, QStringList{"success 14"});

        FtpSession unconnected;
        const FtpResult result = unconnected.ftp->DoCommand(QStringLiteral("NOOP"));
        QCOMPARE(result.Kind(), FtpResult::Failure::NotConnected);
        QCOMPARE(result.Text(), QStringLiteral("Not Connected"));
    }

    void serverClosingInsteadOfReplyingIsASocketError()
    {
        FtpSession s;
        s.logIn();
        s.peer.reply("", Action::ReplyAndClose);
        const FtpResult result = s.ftp->DoCommand(QStringLiteral("TYPE I"));
        QCOMPARE(result.Kind(), FtpResult::Failure::Closed);
        QCOMPARE(result.Text(), QStringLiteral("Connection closed by the server"));
        QVERIFY(s.log.isEmpty()); // a socket failure is not a refusal
    }

    void replyTimeOutsEndTheWaitAndLeaveTheComponentUsable()
    {
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = 200;
        s.peer.reply("", Action::Silence);
        const FtpResult result = s.ftp->DoCommand(QStringLiteral("NOOP"));
        QCOMPARE(result.Kind(), FtpResult::Failure::TimedOut);
        QCOMPARE(result.Text(), QStringLiteral("Timed out waiting for a reply"));
        // Out of step with the server: the control connection is closed, and
        // a new log-in works.
        QVERIFY(!s.ftp->Connected);
        s.logIn();
        QVERIFY(s.ftp->Connected);
        QCOMPARE(s.peer.controlConnections, 2);
        s.peer.reply("200 ok\r\n");
        QVERIFY(s.ftp->DoCommand(QStringLiteral("NOOP")).Succeeded());
        QCOMPARE(s.log, QStringList{"success 14"});
    }

    // After a reply that did not come within TimeOut the server is out of
    // step: the connection is closed there, so no QUIT waits a second bound.
    void replyTimeOutLeavesNoQuitToWaitFor_data()
    {
        QTest::addColumn<int>("step"); // 0 FEAT, 1 the transfer-complete reply, 2 NOOP
        QTest::newRow("FEAT") << 0;
        QTest::newRow("transfer-complete reply") << 1;
        QTest::newRow("a command") << 2;
    }
    void replyTimeOutLeavesNoQuitToWaitFor()
    {
        QFETCH(int, step);
        FtpSession s;
        s.logIn();
        s.ftp->TimeOut = 300;
        if (step == 1) {
            s.peer.reply("200 PORT ok\r\n");
            s.peer.reply("150 Opening data connection\r\n");
        }
        s.peer.reply("", Action::Silence);
        s.peer.reply("221 Goodbye\r\n");
        const FtpResult result = step == 0   ? s.ftp->Features().outcome
                                 : step == 1 ? s.ftp->Upload(s.makeFile("a", 10), QStringLiteral("a"))
                                             : s.ftp->DoCommand(QStringLiteral("NOOP"));
        QCOMPARE(result.Kind(), FtpResult::Failure::TimedOut);
        QCOMPARE(result.Text(), QStringLiteral("Timed out waiting for a reply"));
        QVERIFY(!s.ftp->Connected);
        QVERIFY(s.ftp->Disconnect().Succeeded());
        QVERIFY(!s.peer.commands.contains("QUIT"));
    }

    void silentGreetingTimesOut()
    {
        FtpSession s;
        s.peer.greeting.clear();
        s.ftp->TimeOut = 200;
        QCOMPARE(s.ftp->Connect().Kind(), FtpResult::Failure::TimedOut);
        QVERIFY(!s.ftp->Connected);
    }

    void overLongReplyLineIsAClearError()
    {
        FtpSession s;
        s.logIn();
        s.peer.reply("200 " + QByteArray(70000, 'x') + "\r\n");
        QCOMPARE(s.ftp->DoCommand(QStringLiteral("NOOP")).Text(),
                 QStringLiteral("Line longer than 65536 bytes received"));
        QVERIFY(s.log.isEmpty());
    }

    void disconnect_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("raises");
        QTest::newRow("221") << QByteArray("221 Goodbye\r\n") << false;
        QTest::newRow("500") << QByteArray("500 what?\r\n") << true;
    }
    void disconnect()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, raises);
        FtpSession s;
        QVERIFY(s.ftp->Disconnect().Succeeded()); // not connected: nothing at all
        QCOMPARE(s.peer.controlConnections, 0);
        s.logIn();
        s.peer.reply(reply);
        const FtpResult result = s.ftp->Disconnect();
        QCOMPARE(result.Text(), raises ? QString::fromLatin1(reply) : QString());
        QVERIFY(!s.ftp->Connected); // closed in either case
    }

    // SIZE answers with a value, never a notification; 500, 502 and 504
    // are a server without SIZE, 550 no such file, anything else a failure.
    void fileSizeIsAValue_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("size");
        using K = TSizeReply::Kind;
        QTest::newRow("213") << QByteArray("213 4294967297\r\n") << int(K::Size) << qint64(4294967297);
        QTest::newRow("213 empty file") << QByteArray("213 0\r\n") << int(K::Size) << qint64(0);
        QTest::newRow("550") << QByteArray("550 No such file\r\n") << int(K::NotFound) << qint64(-1);
        // A server that declines the command itself, 501 included.
        for (const char *code : {"500", "501", "502", "504"})
            QTest::newRow(code) << QByteArray(code) + " Not implemented\r\n" << int(K::NotImplemented) << qint64(-1);
        QTest::newRow("450") << QByteArray("450 Busy\r\n") << int(K::Failed) << qint64(-1);
        QTest::newRow("213 not a number") << QByteArray("213 12a\r\n") << int(K::Failed) << qint64(-1);
        QTest::newRow("213 negative") << QByteArray("213 -1\r\n") << int(K::Failed) << qint64(-1);
        QTest::newRow("213 too long") << QByteArray("213 1234567890123456789\r\n") << int(K::Failed) << qint64(-1);
    }

    void fileSizeIsAValue()
    {
        QFETCH(QByteArray, reply);
        FtpSession s;
        s.logIn();
        s.peer.reply(reply);
        const TSizeReply answer = s.ftp->FileSize(QStringLiteral("/F0:/KRN3/a b.bin"));
        QCOMPARE(s.peer.commands.last(), QByteArray("SIZE /F0:/KRN3/a b.bin"));
        QTEST(int(answer.kind), "kind");
        QTEST(answer.size, "size");
        QCOMPARE(answer.replyLine, QString::fromLatin1(reply));
        QCOMPARE(s.log, QStringList{}); // no notification of any kind
    }

    // DELE and RMD too: a refusal of any kind carries the server's line,
    // and only 250 says the file or folder went.
    void deleteIsAValue_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("folder"); // RMD of "/F0:/KRN3/a b", else DELE of "/F0:/KRN3/a b.bin"
        using K = TDeleteReply::Kind;
        QTest::newRow("250") << QByteArray("250 DELE command successful\r\n") << int(K::Deleted) << false;
        QTest::newRow("550") << QByteArray("550 Permission denied\r\n") << int(K::NotFound) << false;
        QTest::newRow("502") << QByteArray("502 Command not implemented\r\n") << int(K::NotImplemented) << false;
        QTest::newRow("450") << QByteArray("450 File busy\r\n") << int(K::Refused) << false;
        QTest::newRow("226") << QByteArray("226 Odd\r\n") << int(K::Refused) << false;
        QTest::newRow("RMD 250") << QByteArray("250 Directory removed\r\n") << int(K::Deleted) << true;
        QTest::newRow("RMD 550 not empty") << QByteArray("550 Directory not empty.\r\n") << int(K::NotFound) << true;
        QTest::newRow("RMD 502") << QByteArray("502 Command not implemented\r\n") << int(K::NotImplemented) << true;
        QTest::newRow("RMD 257") << QByteArray("257 Odd\r\n") << int(K::Refused) << true;
    }

    void deleteIsAValue()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, folder);
        FtpSession s;
        s.logIn();
        s.peer.reply(reply);
        const TDeleteReply answer = folder ? s.ftp->RemoveFolder(QStringLiteral("/F0:/KRN3/a b"))
                                           : s.ftp->DeleteFile(QStringLiteral("/F0:/KRN3/a b.bin"));
        QVERIFY(answer.outcome.Succeeded());
        QCOMPARE(s.peer.commands.last(), folder ? QByteArray("RMD /F0:/KRN3/a b") : QByteArray("DELE /F0:/KRN3/a b.bin"));
        QTEST(int(answer.kind), "kind");
        QCOMPARE(answer.replyLine, QString::fromLatin1(reply).trimmed());
        QCOMPARE(s.log, QStringList{});
    }

    // HASH is read strictly: only a SHA-256 of the file from its first byte
    // is a hash; a refusal is a value too, never a notification.
    void fileHashIsAValue_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("lastByte");
        using K = THashReply::Kind;
        const QByteArray hex(64, 'a');
        QTest::newRow("213") << "213 SHA-256 0-6999 " + hex + " /F0:/KRN3/a b.bin\r\n" << int(K::Hash) << qint64(6999);
        QTest::newRow("550") << QByteArray("550 Not available\r\n") << int(K::Refused) << qint64(-1);
        QTest::newRow("450") << QByteArray("450 Busy\r\n") << int(K::Refused) << qint64(-1);
        QTest::newRow("250") << QByteArray("250 Done\r\n") << int(K::Failed) << qint64(-1);
        QTest::newRow("another algorithm") << "213 SHA-1 0-6999 " + hex + " f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("digest too short") << "213 SHA-256 0-6999 " + hex.left(63) + " f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("digest not hex") << "213 SHA-256 0-6999 " + hex.left(63) + "g f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("range not from 0") << "213 SHA-256 1-6999 " + hex + " f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("range end no number") << "213 SHA-256 0-x " + hex + " f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("range end huge") << "213 SHA-256 0-1234567890123456789 " + hex + " f\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("two lines") << "213-SHA-256 0-6999 " + hex + " f\r\n213 End\r\n" << int(K::Malformed) << qint64(-1);
        QTest::newRow("no digest") << QByteArray("213 SHA-256 0-6999\r\n") << int(K::Malformed) << qint64(-1);
    }

    void fileHashIsAValue()
    {
        QFETCH(QByteArray, reply);
        FtpSession s;
        s.logIn();
        s.peer.reply(reply);
        const THashReply answer = s.ftp->FileHash(QStringLiteral("/F0:/KRN3/a b.bin"));
        QCOMPARE(s.peer.commands.last(), QByteArray("HASH /F0:/KRN3/a b.bin"));
        QTEST(int(answer.kind), "kind");
        QTEST(answer.lastByte, "lastByte");
        QCOMPARE(answer.sha256, answer.kind == THashReply::Kind::Hash ? QByteArray(32, char(0xaa)) : QByteArray());
        QCOMPARE(answer.problem.isEmpty(), answer.kind != THashReply::Kind::Malformed);
        QCOMPARE(s.log, QStringList{});
    }

    // FEAT names HASH with its algorithms, the selected one starred: SHA-256
    // must be among them, and is selected only with its star.
    void hashInFeatures_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<bool>("selected");
        QTest::newRow("selected") << QByteArray(" HASH SHA-256*;SHA-1;MD5") << true << true;
        QTest::newRow("offered") << QByteArray(" hash SHA-1*;sha-256") << true << false;
        QTest::newRow("not SHA-256") << QByteArray(" HASH SHA-1*;SHA-2567;MD5") << false << false;
        QTest::newRow("no algorithms") << QByteArray(" HASH") << false << false;
    }

    void hashInFeatures()
    {
        QFETCH(QByteArray, line);
        const FtpListing::Features features =
            FtpListing::ParseFeatures({"211-Features:\r\n", line + "\r\n", " SIZE\r\n", "211 End\r\n"});
        QTEST(features.hashSha256, "offered");
        QTEST(features.hashSha256Selected, "selected");
        QVERIFY(features.size);
    }

    // In active mode a server may refuse a data command after it began to
    // open the data connection, and report that failure late: the late 425
    // arrives only after the client's next command went out. It must not be
    // taken for that command's reply.
    void lateReplyOfARefusedDataCommand_data()
    {
        QTest::addColumn<bool>("listing"); // MLSD, else STOR
        QTest::addColumn<QByteArray>("refusal");
        QTest::addColumn<QByteArray>("afterNoop"); // what the server sends once NOOP came
        QTest::addColumn<QString>("error");        // of the TYPE I that follows
        QTest::newRow("MLSD of a missing folder, then a late 425") << true << QByteArray("501 No such directory.\r\n")
            << QByteArray("425 Can't open data connection.\r\n200 NOOP ok\r\n") << QString();
        QTest::newRow("STOR refused, then a late multi-line 425") << false << QByteArray("553 Not allowed\r\n")
            << QByteArray("425-Can't open\r\n425 data connection.\r\n200 NOOP ok\r\n") << QString();
        QTest::newRow("nothing late") << true << QByteArray("550 No access.\r\n") << QByteArray("200 NOOP ok\r\n")
                                      << QString();
        QTest::newRow("replies without end are cut off")
            << true << QByteArray("501 No such directory.\r\n") << QByteArray("425 late\r\n").repeated(20)
            << "The FTP server's replies are out of step with its commands";
    }
    void lateReplyOfARefusedDataCommand()
    {
        QFETCH(bool, listing);
        QFETCH(QByteArray, refusal);
        QFETCH(QByteArray, afterNoop);
        QFETCH(QString, error);
        FtpSession s;
        s.logIn();
        s.peer.reply("200 PORT ok\r\n");
        s.peer.reply(refusal);
        s.peer.reply(afterNoop);
        s.peer.reply("200 Type set\r\n");
        if (listing) {
            const FtpListing::Listing answer = s.ftp->ListFolder(QStringLiteral("/F0:/NEW"));
            QCOMPARE(answer.kind, FtpListing::Listing::Kind::Refused);
        } else {
            QCOMPARE(s.ftp->Upload(s.makeFile("a", 1), QStringLiteral("/F0:/a")).Text(), QString::fromLatin1(refusal));
        }
        s.log.clear();
        QCOMPARE(s.ftp->SetTransferType(TTransferType::Image).Text(), error);
        QCOMPARE(s.peer.commands.at(3), listing ? QByteArray("MLSD /F0:/NEW") : QByteArray("STOR /F0:/a"));
        const QList<QByteArray> after = error.isEmpty() ? QList<QByteArray>{"NOOP", "TYPE I"} : QList<QByteArray>{"NOOP"};
        QCOMPARE(s.peer.commands.mid(4), after);
        QCOMPARE(s.log, error.isEmpty() ? QStringList{"success 14"} : QStringList{});
        QCOMPARE(s.ftp->Connected, error.isEmpty());
    }

    // A server that declines an extension as a command is asked once per
    // connection: later asks get the same refusal without a word on the wire.
    void declinedExtensionsAreAskedOncePerConnection_data()
    {
        QTest::addColumn<int>("extension");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::newRow("SIZE") << int(FtpExtension::Size) << QList<QByteArray>{"502 No SIZE\r\n"};
        QTest::newRow("HASH") << int(FtpExtension::Hash) << QList<QByteArray>{"500 Unknown command\r\n"};
        QTest::newRow("MLSD") << int(FtpExtension::Mlsd)
                              << QList<QByteArray>{"200 PORT ok\r\n", "502 No MLSD\r\n"};
    }
    void declinedExtensionsAreAskedOncePerConnection()
    {
        QFETCH(int, extension);
        QFETCH(QList<QByteArray>, replies);
        FtpSession s;
        const auto ask = [&] {
            switch (FtpExtension(extension)) {
            case FtpExtension::Size:
                return s.ftp->FileSize(QStringLiteral("/F0:/a")).kind == TSizeReply::Kind::NotImplemented;
            case FtpExtension::Hash:
                return s.ftp->FileHash(QStringLiteral("/F0:/a")).kind == THashReply::Kind::Refused;
            case FtpExtension::Mlsd:
                return s.ftp->ListFolder(QStringLiteral("/F0:/A")).code == 502;
            }
            return false;
        };
        for (int connection = 0; connection < 2; ++connection) {
            s.logIn();
            for (const QByteArray &reply : replies)
                s.peer.reply(reply);
            QVERIFY(ask());
            const qsizetype sent = s.peer.commands.size();
            QVERIFY(ask());
            QVERIFY(s.ftp->Declined(FtpExtension(extension)).has_value());
            QCOMPARE(s.peer.commands.size(), sent);
            if (FtpExtension(extension) == FtpExtension::Mlsd)
                s.peer.reply("200 NOOP ok\r\n"); // a refused data command is followed by NOOP
            s.peer.reply("221 Goodbye\r\n");
            QVERIFY(s.ftp->Disconnect().Succeeded());
            QVERIFY(s.peer.script.isEmpty());
        }
        QVERIFY(s.log.isEmpty()); // a declined extension is no failure to notify
    }

    // OPTS HASH is sent once per connection when the server took SHA-256 or
    // declined the command; a refusal of another kind may be asked again.
    void hashSelectionIsAskedOncePerConnection_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<int>("optsSent"); // of two asks
        QTest::newRow("taken") << QByteArray("200 HASH set to SHA-256\r\n") << true << 1;
        QTest::newRow("declined") << QByteArray("501 Unknown algorithm\r\n") << false << 1;
        QTest::newRow("refused for now") << QByteArray("450 Busy\r\n") << false << 2;
    }
    void hashSelectionIsAskedOncePerConnection()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, selected);
        QFETCH(int, optsSent);
        FtpSession s;
        for (int connection = 0; connection < 2; ++connection) {
            s.logIn();
            const qsizetype before = s.peer.commands.size();
            for (int ask = 0; ask < optsSent; ++ask)
                s.peer.reply(reply);
            QCOMPARE(s.ftp->SelectHashSha256().Succeeded(), selected);
            QCOMPARE(s.ftp->SelectHashSha256().Succeeded(), selected);
            QCOMPARE(s.peer.commands.mid(before), QList<QByteArray>(optsSent, "OPTS HASH SHA-256"));
            s.peer.reply("221 Goodbye\r\n");
            QVERIFY(s.ftp->Disconnect().Succeeded());
            QVERIFY(s.peer.script.isEmpty());
        }
    }

    void operationsRunInsideAnEventHandler()
    {
        // The upgrade runs inside a click handler: every wait is a nested
        // event loop, and the socket events must still arrive.
        FtpSession s;
        bool done = false;
        QTimer::singleShot(0, [&] {
            s.logIn();
            s.peer.reply("200 Type set\r\n");
            QVERIFY(s.ftp->SetTransferType(TTransferType::Image).Succeeded());
            done = true;
        });
        QTRY_VERIFY(done);
        QCOMPARE(s.log, QStringList{"success 14"});
    }

    void deletedByAHandlerDuringAWait()
    {
        FtpSession s;
        s.logIn();
        s.peer.reply("", Action::Silence);
        QTimer::singleShot(20, [&] { s.ftp.reset(); });
        QCOMPARE(s.ftp->DoCommand(QStringLiteral("NOOP")).Kind(), FtpResult::Failure::Aborted);
        QVERIFY(!s.ftp);
    }
};

QTEST_MAIN(TestNMFTPDialogue)
#include "tst_nmftp_dialogue.moc"

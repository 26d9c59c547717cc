// Uploads against a real FTP server (pyftpdlib): every byte must arrive.
// Downloads and removals too: one that fails carries the server's line,
// and nothing short of every listed byte is reported as fetched.
#include "FtpServerProcess.h"
#include "FtpSession.h"
#include "ftp/TNMFTP.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QtTest>

class TestFtpRealServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(server.started(), qPrintable(server.error));
        ftp.Host = QStringLiteral("127.0.0.1");
        ftp.Port = server.port;
        ftp.TimeOut = 60000;
        ftp.UserID = QStringLiteral("kirosu");
        ftp.Password = QStringLiteral("tovel4417");
        ftp.OnSuccess = [this](TCmdType t) { successes << int(t); };
        ftp.OnFailure = [this](bool &, TCmdType t) { failures << int(t); };
        QVERIFY(ftp.Connect().Succeeded());
        QVERIFY(ftp.Connected);
        QVERIFY(ftp.SetTransferType(TTransferType::Image).Succeeded());
    }

    void byteIdenticalUploads_data()
    {
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("size");
        for (const bool passive : {false, true}) {
            for (const qint64 size : {0ll, 1ll, 65535ll, 65536ll, 65537ll, 64ll << 20}) {
                QTest::addRow("%s, %lld bytes", passive ? "passive" : "active", size) << passive << size;
            }
        }
    }
    void byteIdenticalUploads()
    {
        QFETCH(bool, passive);
        QFETCH(qint64, size);
        const QString name = QStringLiteral("%1-%2.bin").arg(passive ? "p" : "a").arg(size);
        const QByteArray content = FtpSession::pattern(size);
        const QString local = folder.filePath(name);
        {
            QFile f(local);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), size);
        }
        successes.clear();
        ftp.Passive = passive;
        QVERIFY(ftp.Upload(local, QStringLiteral("/") + name).Succeeded());
        QCOMPARE(successes, QList<int>{int(TCmdType::Upload)});
        QVERIFY(failures.isEmpty());

        QFile stored(server.rootPath(name));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.size(), size);
        QCOMPARE(QCryptographicHash::hash(stored.readAll(), QCryptographicHash::Sha256),
                 QCryptographicHash::hash(content, QCryptographicHash::Sha256));
        QFile::remove(local);
        QFile::remove(server.rootPath(name));
    }

    // RETR against the size a listing gave, and DELE. The listed size is
    // what the caller passes: the server's file is shorter or longer than
    // it in the failing rows. After each row the dialogue is still in step.
    void downloadsAndRemovals_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("stored"); // bytes on the server; -1: none, -2: a folder, -3: one not empty
        QTest::addColumn<qint64>("listed");
        QTest::addColumn<int>("kind");      // TDownloadReply::Kind or TDeleteReply::Kind
        QTest::addColumn<QString>("line");  // the server's line begins so; none when empty
        QTest::addColumn<QString>("problem");
        using D = TDownloadReply::Kind;
        using R = TDeleteReply::Kind;
        QTest::newRow("RETR whole") << "RETR" << true << 65537ll << 65537ll << int(D::Fetched) << "226" << "";
        QTest::newRow("RETR empty") << "RETR" << false << 0ll << 0ll << int(D::Fetched) << "226" << "";
        QTest::newRow("RETR short, active") << "RETR" << false << 1000ll << 1010ll << int(D::Failed) << "226"
                                            << "1000 bytes came of the 1010 listed";
        QTest::newRow("RETR short, passive") << "RETR" << true << 0ll << 1ll << int(D::Failed) << "226"
                                             << "0 bytes came of the 1 listed";
        QTest::newRow("RETR long") << "RETR" << true << 70000ll << 69999ll << int(D::Failed) << ""
                                   << "the server sent more than the 69999 bytes listed";
        QTest::newRow("RETR refused") << "RETR" << false << -1ll << 10ll << int(D::Refused) << "550"
                                      << "the server refused to send it (550";
        QTest::newRow("RETR of a folder") << "RETR" << true << -2ll << 10ll << int(D::Refused) << "550"
                                          << "the server refused to send it (550";
        QTest::newRow("DELE") << "DELE" << false << 10ll << 0ll << int(R::Deleted) << "250" << "";
        QTest::newRow("DELE missing") << "DELE" << false << -1ll << 0ll << int(R::NotFound) << "550" << "";
        QTest::newRow("DELE of a folder") << "DELE" << false << -2ll << 0ll << int(R::NotFound) << "550" << "";
        QTest::newRow("RMD") << "RMD" << false << -2ll << 0ll << int(R::Deleted) << "250" << "";
        QTest::newRow("RMD not empty") << "RMD" << false << -3ll << 0ll << int(R::NotFound) << "550" << "";
        QTest::newRow("RMD missing") << "RMD" << false << -1ll << 0ll << int(R::NotFound) << "550" << "";
        QTest::newRow("RMD of a file") << "RMD" << false << 10ll << 0ll << int(R::NotFound) << "550" << "";
    }
    void downloadsAndRemovals()
    {
        QFETCH(QString, command);
        QFETCH(bool, passive);
        QFETCH(qint64, stored);
        QFETCH(qint64, listed);
        QFETCH(int, kind);
        QFETCH(QString, line);
        QFETCH(QString, problem);
        const QString name = QStringLiteral("kept-%1.bin").arg(QTest::currentDataTag()).replace(' ', '-');
        const QByteArray content = FtpSession::pattern(std::max<qint64>(stored, 0));
        if (stored <= -2) {
            QVERIFY(QDir(server.rootPath(QString())).mkdir(name));
            if (stored == -3)
                QVERIFY(QFile(server.rootPath(name + QStringLiteral("/inside"))).open(QIODevice::WriteOnly));
        } else if (stored >= 0) {
            QFile f(server.rootPath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), stored);
        }
        successes.clear();
        failures.clear();
        ftp.Passive = passive;
        if (command == QLatin1String("RETR")) {
            QBuffer into;
            QVERIFY(into.open(QIODevice::WriteOnly));
            const TDownloadReply reply = ftp.Download(QStringLiteral("/") + name, listed, into);
            QVERIFY2(reply.outcome.Succeeded(), qPrintable(reply.outcome.Text()));
            QCOMPARE(int(reply.kind), kind);
            QVERIFY2(line.isEmpty() ? reply.replyLine.isEmpty() : reply.replyLine.startsWith(line), qPrintable(reply.replyLine));
            QVERIFY2(reply.problem.contains(problem), qPrintable(reply.problem));
            if (reply.kind == TDownloadReply::Kind::Fetched) {
                QVERIFY(reply.problem.isEmpty());
                QCOMPARE(into.data(), content);
                QCOMPARE(reply.sha256, QCryptographicHash::hash(content, QCryptographicHash::Sha256));
            } else {
                QVERIFY(!reply.problem.isEmpty());
                QVERIFY(reply.sha256.isEmpty());
                QVERIFY(reply.bytes <= listed);
            }
        } else {
            const bool rmd = command == QLatin1String("RMD");
            const TDeleteReply reply = rmd ? ftp.RemoveFolder(QStringLiteral("/") + name)
                                           : ftp.DeleteFile(QStringLiteral("/") + name);
            QVERIFY2(reply.outcome.Succeeded(), qPrintable(reply.outcome.Text()));
            QCOMPARE(int(reply.kind), kind);
            QVERIFY2(line.isEmpty() ? reply.replyLine.isEmpty() : reply.replyLine.startsWith(line), qPrintable(reply.replyLine));
            // Each removes only its own kind, and a folder only when empty.
            const bool gone = stored == (rmd ? -2 : 10) || stored == -1;
            QCOMPARE(QFileInfo::exists(server.rootPath(name)), !gone);
            if (stored == -3)
                QVERIFY(QFileInfo::exists(server.rootPath(name + QStringLiteral("/inside"))));
        }
        // Neither is one of the engine's notified commands.
        QVERIFY(successes.isEmpty());
        QVERIFY(failures.isEmpty());
        // The next command gets its own reply, whatever the server still owed.
        const TSizeReply size = ftp.FileSize(QStringLiteral("/") + name);
        QVERIFY2(size.outcome.Succeeded(), qPrintable(size.outcome.Text()));
        QCOMPARE(size.kind, stored >= 0 && command != QLatin1String("DELE") ? TSizeReply::Kind::Size
                                                                            : TSizeReply::Kind::NotFound);
    }

    void cleanupTestCase()
    {
        QVERIFY(ftp.Disconnect().Succeeded());
        QVERIFY(!ftp.Connected);
    }

private:
    FtpServerProcess server;
    TNMFTP ftp{nullptr};
    QTemporaryDir folder;
    QList<int> successes;
    QList<int> failures;
};

QTEST_MAIN(TestFtpRealServer)
#include "tst_ftp_realserver.moc"

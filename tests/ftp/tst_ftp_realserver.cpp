// Uploads against a real FTP server (pyftpdlib): every byte must arrive.
#include "FtpServerProcess.h"
#include "FtpSession.h"
#include "ftp/TNMFTP.h"

#include <QCryptographicHash>
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

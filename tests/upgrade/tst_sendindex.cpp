// The index of verified sends: it follows every record (a later unverified
// send takes an entry out), keeps what rotated files hold, and a missing,
// stale or damaged index is rebuilt to the same answers.
#include "upgrade/record/RunHistory.h"
#include "upgrade/record/SendIndex.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;

namespace {

const QString Identity = QStringLiteral("ALVO/BRECKMOOR,VX900,SIM0001,1.00");

QByteArray sha(char c)
{
    return QByteArray(64, c);
}

RunRecord record(const QList<RecordedFile> &files, const QString &identity = Identity)
{
    RunRecord r = RunRecord::begin();
    r.address = "127.0.0.1";
    r.identity = identity;
    r.files = files;
    r.finish("succeeded", "finish", QString());
    return r;
}

QString key(const QString &identity = Identity)
{
    return InstrumentKey(identity, "127.0.0.1");
}

QByteArray shaOf(const SendIndex &index, const QString &path, const QString &instrument = key())
{
    const std::optional<VerifiedSend> send = index.lastVerified(instrument, path);
    return send ? send->sha256Hex : QByteArray("none");
}

} // namespace

class TestSendIndex : public QObject
{
    Q_OBJECT

private slots:
    void instrumentKey_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("addressA");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("firmware changes") << Identity << "10.0.0.1" << "ALVO/BRECKMOOR,VX900,SIM0001,2.00" << true;
        QTest::newRow("other serial") << Identity << "10.0.0.1" << "ALVO/BRECKMOOR,VX900,SIM0002,1.00" << false;
        QTest::newRow("other model") << Identity << "10.0.0.1" << "ALVO/BRECKMOOR,VX901,SIM0001,1.00" << false;
        QTest::newRow("no serial, same address") << "ALVO,VX900,,1.0" << "127.0.0.1" << "ALVO,VX900,,2.0" << true;
        QTest::newRow("no serial, other address") << "ALVO,VX900,,1.0" << "10.0.0.1" << "ALVO,VX900,,1.0" << false;
        QTest::newRow("no serial, address is another's serial")
            << "ALVO,VX900,,1.0" << "SIM9" << "ALVO,VX900,SIM9,1.0" << false;
    }
    void instrumentKey()
    {
        QFETCH(QString, a);
        QFETCH(QString, addressA);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(InstrumentKey(a, addressA) == InstrumentKey(b, "127.0.0.1"), same);
    }

    void followsRecordsAcrossRotation()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("history.jsonl");
        // Rotated every few records, every file kept.
        const RunHistory history(file, HistoryLimits{4096, 100});
        const QString pad(1500, 'x');
        QVERIFY(!history.append(record({{"/F0:/A/a", 1, sha('a'), FileOutcome::SentVerified},
                                        {"/F0:/A/b", 1, sha('b'), FileOutcome::SentVerified},
                                        {"/F0:/A/c", 1, sha('c'), FileOutcome::SentVerified}})));
        for (int i = 0; i < 6; ++i) { // pushes the first record into a rotated file
            RunRecord filler = record({{"/F0:/A/z" + pad, 1, sha('e'), FileOutcome::NotSent}});
            QVERIFY(!history.append(filler));
        }
        QVERIFY(QFile::exists(RotatedHistoryFile(file, 2)));
        QVERIFY(!history.append(record({{"/F0:/A/a", 1, sha('1'), FileOutcome::SentVerified},
                                        {"/F0:/A/b", 1, sha('2'), FileOutcome::Failed},
                                        {"/F0:/A/c", 1, sha('3'), FileOutcome::AlreadyThere}})));
        QVERIFY(!history.append(record({{"/F0:/A/a", 1, sha('4'), FileOutcome::SentVerified}},
                                       "ALVO/BRECKMOOR,VX900,SIM0002,1.00")));

        const auto check = [&](const SendIndex &index) {
            QCOMPARE(shaOf(index, "/F0:/A/a"), sha('1'));       // the latest verified send
            QCOMPARE(shaOf(index, "/F0:/A/b"), "none");         // a failed send took it out
            QCOMPARE(shaOf(index, "/F0:/A/c"), sha('c'));       // left on the drive, from the rotated file
            QCOMPARE(shaOf(index, "/F0:/A/a", key("ALVO/BRECKMOOR,VX900,SIM0002,9")), sha('4'));
        };
        const SendIndex kept(file, 100);
        check(kept);
        QVERIFY2(kept.problem().isEmpty(), qPrintable(kept.problem()));

        QVERIFY(QFile::remove(SendIndex::IndexFileFor(file)));
        const SendIndex rebuilt(file, 100);
        check(rebuilt);
        QVERIFY(QFile::exists(SendIndex::IndexFileFor(file)));
    }

    void badIndexIsRebuilt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not an index") << QByteArray("\x00\xff garbage\n", 11);
        QTest::newRow("line cut short") << QByteArray("STAMP\n1\t1\t" + sha('a'));
        QTest::newRow("hostile size") << QByteArray("STAMP\n1\t-5\t" + sha('9') + "\tk\t%2FF0%3A%2FA%2Fa\n");
        QTest::newRow("behind the history") << QByteArray("vxupgrade-send-index 2 1 1 1 0\n");
        QTest::newRow("cut at a line's end") << QByteArray("STAMP\n");
        QTest::newRow("huge line") << QByteArray("STAMP\n" + QByteArray(1 << 20, '1'));
        QTest::newRow("too large") << QByteArray("STAMP\n") + QByteArray(SendIndex::MaxFileBytes, '\n');
    }
    void badIndexIsRebuilt()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString file = dir.filePath("h.jsonl");
        QVERIFY(!RunHistory(file).append(record({{"/F0:/A/a", 7, sha('a'), FileOutcome::SentVerified}})));
        QFile index(SendIndex::IndexFileFor(file));
        QVERIFY(index.open(QIODevice::ReadOnly));
        const QByteArray stamp = index.readLine().trimmed();
        index.close();
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(content.replace("STAMP", stamp));
        index.close();

        const SendIndex reread(file);
        const std::optional<VerifiedSend> send = reread.lastVerified(key(), "/F0:/A/a");
        QVERIFY(send);
        QCOMPARE(send->sha256Hex, sha('a'));
        QCOMPARE(send->size, 7);
        QVERIFY(!reread.problem().isEmpty());
        const SendIndex again(file);
        QVERIFY(again.lastVerified(key(), "/F0:/A/a"));
        QVERIFY2(again.problem().isEmpty(), qPrintable(again.problem())); // written anew
    }
};

QTEST_GUILESS_MAIN(TestSendIndex)
#include "tst_sendindex.moc"

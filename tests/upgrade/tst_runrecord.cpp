// A checked, verified and recorded run against the simulator: nothing is
// written when the kit or the space is wrong, every file's stored size is
// compared, and every way out leaves one record in the history.
#include "platform/UnreadableEntry.h"
#include "support/RunRig.h"

#include "upgrade/FolderVerifier.h"
#include "upgrade/InstrumentLayout.h"

#include <QTemporaryDir>
#include <QtTest>

#include <optional>

using namespace upgrade;

class TestRunRecord : public QObject
{
    Q_OBJECT

private slots:
    void everyEndIsVerifiedAndOnRecord_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("badKit");
        QTest::addColumn<int>("answer"); // to the space question
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("fileOutcome"); // of /F0:/KRN3/k.bin
        QTest::addColumn<QString>("memoFragment");
        QTest::addColumn<bool>("written");

        QTest::newRow("success: verified") << QStringList() << false << int(platform::IDYES) << "succeeded"
                                           << "sent-verified" << "Copy completed!" << true;
        QTest::newRow("stored one byte short: failed")
            << QStringList{"--stor-short", "all"} << false << int(platform::IDYES) << "failed" << "failed"
            << "Copying... k.bin" << true;
        QTest::newRow("nothing tells the size: sent, not verifiable")
            << QStringList{"--no-mlsd", "--no-size", "--catalogue-form", "names"} << false << int(platform::IDYES)
            << "succeeded" << "sent-not-verifiable" << FolderVerifier::methodText(FolderVerifier::Method::Catalogue)
            << true;
        QTest::newRow("bad kit: every problem, nothing written")
            << QStringList() << true << int(platform::IDYES) << "failed" << "not-sent" << "File can't be read"
            << false;
        QTest::newRow("kit beyond the free space, declined")
            << QStringList{"--free", "5000000"} << false << int(platform::IDNO) << "declined" << "not-sent"
            << "" << false;
    }

    void everyEndIsVerifiedAndOnRecord()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, badKit);
        QFETCH(int, answer);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(badKit ? 7000 : 6000000, 1));
        folder.write("MainFrame/m.exe", sampleBytes(3000, 3));
        std::optional<UnreadableEntry> unreadable;
        if (badKit) {
            unreadable.emplace(folder.write("target/KRN3/a/locked.bin", "x"));
            if (!unreadable->usable())
                QSKIP(unreadable->whyNot());
            folder.write("MainFrame/bad\"name.bin", "y");
        }
        QTemporaryDir state;
        RunRig rig(folder.path(), sim.ports());
        rig.run.historyFile = state.filePath("history.jsonl");
        rig.observer.boxes.answer = [answer](const RecordedBox &box) {
            return (box.flags & platform::MB_YESNO) ? answer : int(platform::IDOK);
        };
        const RunResult result = rig.run.Run("127.0.0.1");
        unreadable.reset();

        const QStringList memo = rig.observer.memo;
        QFETCH(QString, memoFragment);
        QVERIFY2(memo.filter(memoFragment).size() == 1 || memoFragment.isEmpty(), qPrintable(memo.join('\n')));
        const QStringList ftp = sim.sent("ftp");
        const QStringList cmd = sim.sent("cmd");
        QFETCH(bool, written);
        QCOMPARE(!ftp.filter("STOR ").isEmpty() || !cmd.filter("MDIR").isEmpty(), written);
        if (badKit) {
            QVERIFY(memo.filter("locked.bin").size() == 1);
            QVERIFY(memo.filter("bad\"name.bin").size() == 1);
            QCOMPARE(rig.observer.boxes.texts().last(), DownloadFailedText);
        }
        if (simOptions.contains("--stor-short")) {
            QVERIFY(result.raised);
            QVERIFY2(result.message.contains("5999999") && result.message.contains("6000000")
                         && result.message.contains("/F0:/KRN3/k.bin"),
                     qPrintable(result.message));
            QVERIFY(rig.observer.boxes.texts().contains("Upload failed"));
        } else if (!badKit && answer == platform::IDYES) {
            // All is well, or merely unverifiable: no box but the last one.
            QCOMPARE(rig.observer.boxes.texts(), QStringList{SuccessText});
        }

        const RunHistory::Reading reading = RunHistory(rig.run.historyFile).read();
        QCOMPARE(reading.records.size(), 1);
        const RunRecord &record = reading.records.first();
        QTEST(record.outcome, "outcome");
        QCOMPARE(record.address, QString("127.0.0.1"));
        QVERIFY(record.identity.startsWith("ALVO/BRECKMOOR,VX900,"));
        QVERIFY(!record.kitDigest.isEmpty());
        if (badKit)
            QVERIFY(std::all_of(record.files.cbegin(), record.files.cend(),
                                [](const RecordedFile &file) { return file.outcome == upgrade::FileOutcome::NotSent; }));
        if (!badKit) {
            QCOMPARE(record.files.size(), 2);
            QCOMPARE(record.files.first().instrumentPath, QString("/F0:/KRN3/k.bin"));
            QTEST(FileOutcomeName(record.files.first().outcome), "fileOutcome");
            QCOMPARE(record.bytes, result.bytesCopied);
        }
    }
};

QTEST_GUILESS_MAIN(TestRunRecord)
#include "tst_runrecord.moc"

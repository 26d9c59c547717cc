// How a run verifies what it sent, against the simulator playing FTP
// servers with and without MLSD and SIZE, faulty and hostile listings, and
// a QUIT that fails after a complete upload.
#include "support/RunRig.h"

#include "ftp/TNMFTP.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/run/RunTexts.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;
using Method = SendCheck::Method;

class TestRunVerify : public QObject
{
    Q_OBJECT

private slots:
    void verifiesByWhatTheServerOffers_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("memoLine");  // the way the run verified, or the failure's line
        QTest::addColumn<QString>("kbinOutcome"); // of /F0:/KRN3/k.bin, 6000 bytes

        const auto way = [](Method method) { return SendCheck::methodText(method); };
        QTest::newRow("MLSD: one listing per folder") << QStringList{} << "succeeded" << way(Method::FtpListing)
                                                      << "sent-verified";
        QTest::newRow("no MLSD: SIZE") << QStringList{"--no-mlsd"} << "succeeded" << way(Method::FtpSize)
                                       << "sent-verified";
        QTest::newRow("SIZE answered 501: the catalogue")
            << QStringList{"--no-mlsd", "--size-reply", "501"} << "succeeded" << way(Method::Catalogue)
            << "sent-verified";
        QTest::newRow("SCPI catalogue form, NAME included")
            << QStringList{"--no-mlsd", "--no-size", "--catalogue-form", "scpi"} << "succeeded"
            << way(Method::Catalogue) << "sent-verified";
        QTest::newRow("catalogue without sizes: sent, not verifiable")
            << QStringList{"--no-mlsd", "--no-size", "--catalogue-form", "names"} << "succeeded"
            << "None of the 4 file(s) sent could be verified" << "sent-not-verifiable";
        QTest::newRow("no MLSD, no SIZE, short store")
            << QStringList{"--no-mlsd", "--no-size", "--stor-keep", "100"} << "failed"
            << "the instrument holds 100 bytes of /F0:/KRN3/" << "";
        QTest::newRow("SIZE 550: missing") << QStringList{"--no-mlsd", "--size-reply", "550"} << "failed"
                                           << "has no file /F0:/" << "";
        QTest::newRow("SIZE 450: could not be checked") << QStringList{"--no-mlsd", "--size-reply", "450"}
                                                        << "failed" << "could not be checked" << "";
        QTest::newRow("MLSD omits a file") << QStringList{"--mlsd-fault", "omit:k.bin"} << "failed"
                                           << "has no file /F0:/KRN3/k.bin" << "failed";
        QTest::newRow("MLSD gives another size")
            << QStringList{"--mlsd-fault", "resize:k.bin"} << "failed"
            << "the instrument holds 6001 bytes of /F0:/KRN3/k.bin, 6000 bytes were sent" << "failed";
        QTest::newRow("MLSD endless line") << QStringList{"--mlsd-fault", "endless"} << "failed"
                                           << "can't be trusted: Line longer than 65536 bytes" << "";
        QTest::newRow("MLSD huge size") << QStringList{"--mlsd-fault", "huge"} << "failed"
                                        << "can't be trusted: a size in the listing" << "";
        QTest::newRow("MLSD name with control characters")
            << QStringList{"--mlsd-fault", "control"} << "failed" << "can't be trusted: a name with control" << "";
    }

    void verifiesByWhatTheServerOffers()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QString, outcome);
        QFETCH(QString, memoLine);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(6000, 1));
        folder.write("target/KRN3/a.bin", sampleBytes(700, 2));
        folder.write("target/KRN3/sub/c.bin", sampleBytes(300, 3));
        folder.write("MainFrame/m.exe", sampleBytes(3000, 4));
        QTemporaryDir state;
        RunRig rig(folder.path(), sim.ports());
        rig.run.historyFile = state.filePath("history.jsonl");
        const RunResult result = rig.run.Run("127.0.0.1");

        const QStringList memo = rig.observer.memo;
        QVERIFY2(memo.filter(memoLine).size() == 1, qPrintable(memo.join('\n')));
        const RunRecord record = RunHistory(rig.run.historyFile).read().records.value(0);
        QCOMPARE(record.outcome, outcome);
        QFETCH(QString, kbinOutcome);
        for (const RecordedFile &file : record.files) {
            if (file.instrumentPath == "/F0:/KRN3/k.bin" && !kbinOutcome.isEmpty())
                QCOMPARE(FileOutcomeName(file.outcome), kbinOutcome);
        }
        const QStringList ftp = sim.sent("ftp");
        if (outcome == "succeeded") {
            QCOMPARE(rig.observer.boxes.texts(), QStringList{SuccessText});
            QCOMPARE(result.outcome, RunOutcome::Succeeded);
        } else {
            // As a refused transfer ends: the link's box, the error raised,
            // and the run stops at the folder that failed its check.
            QVERIFY2(rig.observer.boxes.texts().contains("Upload failed"), qPrintable(rig.observer.boxes.texts().join('|')));
            QVERIFY(result.raised);
            QVERIFY(result.message.contains(memoLine));
            QVERIFY(ftp.filter("STOR /F0:/SYSTEM/m.exe").isEmpty());
        }
        // One listing per folder the kit sends into (plus the NAME file's),
        // and no SIZE beside it.
        if (simOptions.isEmpty()) {
            QCOMPARE(ftp.filter(QRegularExpression("^MLSD ")).size(), 4);
            QCOMPARE(ftp.filter(QRegularExpression("^SIZE ")).size(), 0);
        }
    }

    void quitFailingAfterCompleteUploadIsSuccess_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::newRow("QUIT answered 550") << QStringList{"--quit-reply", "550"};
        QTest::newRow("QUIT never answered") << QStringList{"--quit-delay", "600"};
    }

    void quitFailingAfterCompleteUploadIsSuccess()
    {
        QFETCH(QStringList, simOptions);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(6000, 1));
        QTemporaryDir state;
        RunRig rig(folder.path(), sim.ports());
        rig.link.NMFTP->TimeOut = 3000; // the bound of QUIT's wait
        rig.run.historyFile = state.filePath("history.jsonl");
        const RunResult result = rig.run.Run("127.0.0.1");

        QCOMPARE(result.outcome, RunOutcome::Succeeded);
        QVERIFY(result.raised); // the window shows the error as after any exception
        QVERIFY2(result.note.contains("did not close the connection cleanly"), qPrintable(result.note));
        QCOMPARE(rig.observer.boxes.texts(), QStringList{SuccessText});
        const RunRecord record = RunHistory(rig.run.historyFile).read().records.value(0);
        QCOMPARE(record.outcome, QString("succeeded"));
        QCOMPARE(record.note, result.note);
        QCOMPARE(sim.file("/F0:/KRN3/k.bin"), sampleBytes(6000, 1));
    }
};

QTEST_GUILESS_MAIN(TestRunVerify)
#include "tst_runverify.moc"

// The upgrade run as its views see it, without any widget: the events it
// reports, the value it ends with, a stop from inside a transfer, and a
// second run after a failed one. The simulator is the instrument.
#include "support/RunFixture.h"
#include "support/RunRig.h"

#include "ftp/TNMFTP.h"
#include "instrument/TClientSocket.h"

#include <QFile>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace upgrade;

namespace {

const QString SuccessText = QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900.");

quint16 portNobodyListensOn()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

} // namespace

Q_DECLARE_METATYPE(RunOutcome)
Q_DECLARE_METATYPE(RunStep)

class TestRunEvents : public QObject
{
    Q_OBJECT

private slots:
    void wholeRunReportsEveryStepAndFile()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(70000, 1));
        folder.write("target/KRN3/SIGNAL/s.dat", sampleBytes(500, 2)); // unticked: neither measured nor copied
        folder.write("MainFrame/m.exe", sampleBytes(3000, 3));
        RunRig rig(folder.path(), sim.ports());
        const RunResult result = rig.run.Run("127.0.0.1");
        const RecordingObserver &seen = rig.observer;

        QCOMPARE(seen.steps, (QList<RunStep>{RunStep::Connect, RunStep::DriveCheck, RunStep::Measure,
                                             RunStep::NameFiles, RunStep::Modules, RunStep::SystemFiles,
                                             RunStep::Finish}));
        QCOMPARE(seen.files, (QStringList{"/F0:/SYSTEM/MID3/NAME 6 copied", "/F0:/KRN3/k.bin 70000 copied",
                                          "/F0:/SYSTEM/m.exe 3000 copied"}));
        QCOMPARE(seen.filesStarted, 3);

        // Bytes only grow, the file on its way is named, and the whole
        // files end at the 73000 bytes the kit check planned.
        QVERIFY(std::is_sorted(seen.progressReports.cbegin(), seen.progressReports.cend(),
                               [](const RunProgress &a, const RunProgress &b) { return a.copiedBytes < b.copiedBytes; }));
        QVERIFY(std::any_of(seen.progressReports.cbegin(), seen.progressReports.cend(),
                            [](const RunProgress &p) { return p.file == "/F0:/KRN3/k.bin"; }));
        QCOMPARE(seen.bar, (QList<int>{95, 100}));

        QCOMPARE(seen.results.size(), 1);
        QCOMPARE(result.outcome, RunOutcome::Succeeded);
        QCOMPARE(result.step, RunStep::Finish);
        QCOMPARE(result.message, SuccessText);
        QVERIFY(!result.mayRetry && !result.raised);
        QVERIFY2(result.identity.startsWith("ALVO/BRECKMOOR,VX900,"), result.identity.constData());
        QCOMPARE(result.filesCopied, 3);
        QCOMPARE(result.bytesCopied, qint64(73000));
        QCOMPARE(result.bytesTotal, qint64(73000));
        QCOMPARE(sim.sent("ftp").last(), QString("QUIT"));
    }

    void everyEndIsAValue_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("deadPort");
        QTest::addColumn<RunOutcome>("outcome");
        QTest::addColumn<RunStep>("step");
        QTest::addColumn<QString>("message"); // the start of it
        QTest::addColumn<bool>("mayRetry");
        QTest::addColumn<bool>("raised");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("nobody at the address") << QStringList{} << true << RunOutcome::Failed << RunStep::Connect
                                               << "Can't connect VX900." << true << false << QStringList{};
        QTest::newRow("not a VX900") << QStringList{"--idn", "ACME,SG1"} << false << RunOutcome::Failed
                                     << RunStep::Connect << "This instrument is not a VX900." << true << false
                                     << QStringList{};
        QTest::newRow("drive refused") << QStringList{"--refuse-root"} << false << RunOutcome::Failed
                                       << RunStep::DriveCheck << "VX900's File System was damaged!" << true << false
                                       << QStringList{};
        QTest::newRow("declined") << QStringList{"--free", "1000"} << false << RunOutcome::Declined
                                  << RunStep::LowSpace << "Declined" << false << false << QStringList{};
        QTest::newRow("MID folder refused") << QStringList{"--mdir-fail-after", "0"} << false << RunOutcome::Failed
                                            << RunStep::NameFiles << "Fail to make MID files !" << false << false
                                            << QStringList{};
        QTest::newRow("module folder refused") << QStringList{"--mdir-fail-after", "1"} << false
                                               << RunOutcome::Failed << RunStep::Modules << "Fail to download F/W !"
                                               << false << false << QStringList{"/F0:/SYSTEM/MID5/NAME 6 copied"};
        QTest::newRow("STOR refused: an error raised below")
            << QStringList{"--stor-refuse", "553@2"} << false << RunOutcome::Failed << RunStep::Modules << "553"
            << true << true << QStringList{"/F0:/SYSTEM/MID5/NAME 6 copied", "/F0:/LPS3/l.bin 10 failed"};
    }

    void everyEndIsAValue()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, deadPort);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        InstrumentPorts ports = sim.ports();
        if (deadPort)
            ports.command = portNobodyListensOn();
        ProgramFolder folder;
        folder.writeIni({{5, "LPS3", 0}});
        folder.write("target/LPS3/l.bin", "0123456789");
        folder.makeFolder("target/LPS3/SIGNAL");
        RunRig rig(folder.path(), ports);
        rig.catalogue.TickBox("LPS3", true);
        rig.observer.boxes.answer = [](const RecordedBox &box) {
            return platform::IsQuestion(box.flags) ? int(platform::IDNO) : int(platform::IDOK);
        };
        const RunResult result = rig.run.Run("127.0.0.1");

        QTEST(result.outcome, "outcome");
        QTEST(result.step, "step");
        QFETCH(QString, message);
        QVERIFY2(result.message.startsWith(message) || (message == "553" && result.message.contains(message)),
                 qPrintable(result.message));
        QTEST(result.mayRetry, "mayRetry");
        QTEST(result.raised, "raised");
        QTEST(rig.observer.files, "files");
        QCOMPARE(rig.observer.results.size(), 1);
        // An end that leaves the window for another try leaves no busy run.
        QVERIFY(!rig.run.running());
    }

    // A stop asked for while a file is on its way ends the run at once: the
    // link is closed, no later file is sent, and the run says it stopped.
    void stopDuringAnUpload()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        for (int i = 0; i < 4; ++i)
            folder.write(QStringLiteral("target/KRN3/f%1").arg(i), sampleBytes(300000, i));
        folder.write("MainFrame/m", "m");
        RunRig rig(folder.path(), sim.ports());
        bool posted = false;
        QObject context;
        rig.observer.onProgress = [&](const RunProgress &progress) {
            if (posted || !progress.file.startsWith("/F0:/KRN3/"))
                return;
            posted = true;
            // Fires at the FTP client's first wait inside the upload.
            QTimer::singleShot(0, &context, [&] { rig.run.RequestStop(); });
        };
        const RunResult result = rig.run.Run("127.0.0.1");
        const RecordingObserver &observer = rig.observer;

        QVERIFY(posted);
        QCOMPARE(result.outcome, RunOutcome::Stopped);
        QVERIFY(!result.mayRetry);
        QCOMPARE(observer.boxes.shown.size(), 0); // the stop is asked for: no box
        QVERIFY(!observer.memo.contains("Copy completed!"));
        QVERIFY(sim.files().filter("KRN3/").size() < 4);
        QVERIFY(!sim.files().contains("SYSTEM/m"));
        QVERIFY(observer.files.last().endsWith(" failed"));
        QVERIFY(!rig.link.NMFTP->Connected && !rig.link.ClientSocket->Active());
    }

    // Each run counts from zero: after a failed run, the next one measures
    // what the trees hold now, and enters the module phase only when target
    // holds files now.
    void secondRunStartsFromZero()
    {
        SimInstrument sim({"--stor-refuse", "553@2"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        const QString moduleFile = folder.write("target/KRN3/k.bin", sampleBytes(5000, 1));
        folder.write("MainFrame/m.exe", sampleBytes(1000, 2));
        RunRig rig(folder.path(), sim.ports());

        const RunResult first = rig.run.Run("127.0.0.1");
        QCOMPARE(first.outcome, RunOutcome::Failed);
        QVERIFY(first.raised && first.mayRetry);
        QCOMPARE(first.bytesTotal, qint64(6000));

        QVERIFY(QFile::remove(moduleFile));
        const RunResult second = rig.run.Run("127.0.0.1");
        QCOMPARE(second.outcome, RunOutcome::Succeeded);
        QCOMPARE(second.bytesTotal, qint64(1000));
        QCOMPARE(second.bytesCopied, qint64(1000));
        QCOMPARE(rig.run.fileCount, qint64(1));
        QVERIFY(!rig.observer.memo.contains("Copying ALL modules ..."));
        QCOMPARE(rig.observer.memo.filter("Copying... "), QStringList{"Copying... m.exe"});
        // The bar follows the second run's bytes alone: from 0 straight to 100.
        QCOMPARE(rig.observer.bar, QList<int>{100});
    }
};

QTEST_GUILESS_MAIN(TestRunEvents)
#include "tst_runevents.moc"

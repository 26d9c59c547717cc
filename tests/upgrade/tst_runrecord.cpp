// A checked, verified and recorded run against the simulator: nothing is
// written when the kit or the space is wrong, every file's stored size is
// compared, a kit file that changes during the run fails it, and every way
// out leaves one record in the history.
#include "platform/UnreadableEntry.h"
#include "support/RunRig.h"

#include "upgrade/run/RunTexts.h"

#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

using namespace upgrade;

namespace {

// What the drive lost or gained: any command that writes, on either channel.
QStringList writingCommands(const SimInstrument &sim)
{
    static const QRegularExpression ftpWrites("^(STOR|STOU|APPE|MKD|XMKD|RMD|XRMD|DELE|RNFR|RNTO|SITE) ",
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression cmdWrites("^MMEM:(MDIR|DEL|RDIR|COPY|MOVE|DATA)",
                                              QRegularExpression::CaseInsensitiveOption);
    return sim.sent("ftp").filter(ftpWrites) + sim.sent("cmd").filter(cmdWrites);
}

enum class Change { Truncate, OverwriteSameSize, Replace };

// Changes a kit file the way an editor or a copy would.
void change(const QString &path, Change how, const QByteArray &original)
{
    if (how == Change::Replace) {
        QSaveFile file(path); // the same bytes under a new inode
        if (!file.open(QIODevice::WriteOnly) || file.write(original) != original.size() || !file.commit())
            qFatal("cannot replace %s", qPrintable(path));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        qFatal("cannot open %s", qPrintable(path));
    if (how == Change::Truncate ? !file.resize(original.size() / 2)
                                : file.write(sampleBytes(original.size(), 99)) != original.size())
        qFatal("cannot change %s", qPrintable(path));
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestRunRecord : public QObject
{
    Q_OBJECT

private slots:
    void everyEndIsVerifiedAndOnRecord_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("badKit"); // 1: two problems, 2: only an unreadable file
        QTest::addColumn<int>("answer"); // to the space question
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("fileOutcome"); // of /F0:/KRN3/k.bin
        QTest::addColumn<QString>("memoFragment");
        QTest::addColumn<bool>("written");

        QTest::newRow("success: verified") << QStringList() << 0 << int(platform::IDYES) << "succeeded"
                                           << "sent-verified" << "Copy completed!" << true;
        QTest::newRow("stored one byte short: failed")
            << QStringList{"--stor-short", "all"} << 0 << int(platform::IDYES) << "failed" << "failed"
            << "Copying... k.bin" << true;
        QTest::newRow("nothing tells the size: sent, not verifiable")
            << QStringList{"--no-mlsd", "--no-size", "--catalogue-form", "names"} << 0 << int(platform::IDYES)
            << "succeeded" << "sent-not-verifiable" << "None of the 2 file(s) sent could be verified"
            << true;
        QTest::newRow("bad kit: every problem, nothing written")
            << QStringList() << 1 << int(platform::IDYES) << "failed" << "not-sent" << "File can't be read"
            << false;
        // Deep in the first module: a pre-flight that let it through would
        // have written the NAME files and the files before it.
        QTest::newRow("an unreadable file alone: nothing written")
            << QStringList() << 2 << int(platform::IDYES) << "failed" << "not-sent" << "File can't be read"
            << false;
        QTest::newRow("kit beyond the free space, declined")
            << QStringList{"--free", "5000000"} << 0 << int(platform::IDNO) << "declined" << "not-sent"
            << "" << false;
    }

    void everyEndIsVerifiedAndOnRecord()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(int, badKit);
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
            if (badKit == 1)
                folder.write("MainFrame/bad\"name.bin", "y");
        }
        const QStringList driveBefore = sim.files();
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
        QCOMPARE(!writingCommands(sim).isEmpty(), written);
        if (!written)
            QCOMPARE(sim.files(), driveBefore);
        if (badKit) {
            QVERIFY(memo.filter("locked.bin").size() == 1);
            QCOMPARE(memo.filter("bad\"name.bin").size(), badKit == 1 ? 1 : 0);
            // Nothing was written: the end says why the kit was refused.
            const RecordedBox &end = rig.observer.boxes.shown.last();
            QVERIFY2(end.text.startsWith("The kit was refused: nothing was written to VX900.\n\n"), qPrintable(end.text));
            QCOMPARE(end.text.count("locked.bin"), 1);
            QCOMPARE(end.text.contains("bad\"name.bin"), badKit == 1);
            QCOMPARE(end.caption, Caption);
            QCOMPARE(end.flags, int(platform::MB_ICONERROR));
            QCOMPARE(result.message, end.text);
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

    // The kit's check starts with the run, before the low-space question;
    // a Yes there ticks KRN3, and its SIGNAL folder is checked before the
    // first write all the same: a name the instrument can't take stops the
    // run with nothing written.
    void lowSpaceYesChecksTheSignalsItTicks()
    {
        SimInstrument sim({"--free", "1000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{1, "KRN3", 0}, {2, "LPS3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(100, 1));
        folder.write("target/KRN3/SIGNAL/bad\"name.bin", "s");
        folder.write("target/LPS3/SIGNAL/l.bin", sampleBytes(100, 2));
        RunRig rig(folder.path(), sim.ports());
        rig.catalogue.TickBox("LPS3", true);
        rig.observer.boxes.answer = [](const RecordedBox &box) {
            return platform::IsQuestion(box.flags) ? int(platform::IDYES) : int(platform::IDOK);
        };
        const RunResult result = rig.run.Run("127.0.0.1");

        QCOMPARE(result.outcome, RunOutcome::Failed);
        QCOMPARE(result.step, RunStep::Measure);
        QCOMPARE(rig.observer.memo.filter("bad\"name.bin").size(), 1);
        QCOMPARE(writingCommands(sim), QStringList());
    }

    // A kit file changed after pre-flight read it, before or during its
    // upload: the run fails naming it, and the record claims nothing of it.
    void kitFileChangedDuringTheRunFailsIt_data()
    {
        QTest::addColumn<Change>("how");
        QTest::addColumn<bool>("onTheWire"); // else when the file before it is sent
        QTest::newRow("truncated") << Change::Truncate << false;
        QTest::newRow("overwritten at the same size") << Change::OverwriteSameSize << false;
        QTest::newRow("replaced by a copy") << Change::Replace << false;
        QTest::newRow("truncated on the wire") << Change::Truncate << true;
        QTest::newRow("overwritten on the wire") << Change::OverwriteSameSize << true;
    }

    void kitFileChangedDuringTheRunFailsIt()
    {
        QFETCH(Change, how);
        QFETCH(bool, onTheWire);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/k.bin", sampleBytes(6000, 1));
        const QByteArray original = sampleBytes(3000000, 3);
        const QString changed = folder.write("MainFrame/m.bin", original);
        QTemporaryDir state;
        RunRig rig(folder.path(), sim.ports());
        rig.run.historyFile = state.filePath("history.jsonl");
        bool done = false;
        rig.observer.onProgress = [&](const RunProgress &progress) {
            const bool now = onTheWire ? progress.file == "/F0:/SYSTEM/m.bin" && progress.copiedBytes > 6000
                                       : progress.file == "/F0:/KRN3/k.bin";
            if (now && !std::exchange(done, true))
                change(changed, how, original);
        };
        const RunResult result = rig.run.Run("127.0.0.1");

        QVERIFY(done);
        QCOMPARE(result.outcome, RunOutcome::Failed);
        const QString text = "Upload failed: " + changed + " changed while it was being sent";
        QCOMPARE(result.message, text);
        QCOMPARE(rig.observer.memo.filter("changed while it was being sent"), QStringList{text});
        QCOMPARE(rig.observer.boxes.texts().filter("Upload failed").size(), 1);
        const RunRecord record = RunHistory(rig.run.historyFile).read().records.value(0);
        QCOMPARE(record.outcome, QString("failed"));
        QCOMPARE(record.files.size(), 2);
        QCOMPARE(FileOutcomeName(record.files[0].outcome), QString("sent-verified"));
        QCOMPARE(record.files[1].instrumentPath, QString("/F0:/SYSTEM/m.bin"));
        QCOMPARE(FileOutcomeName(record.files[1].outcome), QString("failed"));
        QVERIFY(record.files[1].sha256.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRunRecord)
#include "tst_runrecord.moc"

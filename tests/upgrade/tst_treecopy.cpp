// Copying local trees to the instrument: the folder rules seen through whole
// runs, and the copy's own guards (64-bit progress, names the instrument
// can't take, entries that can't be read to an end, failures deep down).
#include "ftp/TNMFTP.h"
#include "platform/Exception.h"
#include "platform/UnreadableEntry.h"
#include "support/RunFixture.h"
#include "support/RunRig.h"
#include "upgrade/drive/SendCheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <sys/stat.h>

using namespace upgrade;

namespace {

const QString SuccessText = QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900.");
const QString DownloadFailed = QStringLiteral("Fail to download F/W !\n\nVX900 file system might be full.");

// The one box of a run whose kit check refused the kit: it says so, not
// that a copy failed.
bool endedRefused(const QStringList &boxes)
{
    if (boxes.size() == 1 && boxes.first().startsWith("The kit was refused: nothing was written to VX900.\n\n"))
        return true;
    qWarning("boxes: %s", qPrintable(boxes.join(" | ")));
    return false;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

// A run on `folder`, its kit checked, linked to the simulator and switched
// to image type, for calling the copy operations directly.
std::unique_ptr<RunRig> linkedRun(const SimInstrument &sim, ProgramFolder &folder)
{
    auto rig = std::make_unique<RunRig>(folder.path(), sim.ports());
    if (!rig->run.checkKit() || !rig->link.Connect(QStringLiteral("127.0.0.1")))
        return nullptr;
    rig->link.SetTransferType(TTransferType::Image);
    return rig;
}

// A run that ended as the window closes after: failed, with its box.
bool endedForGood(const RunResult &result)
{
    return result.outcome == RunOutcome::Failed && !result.mayRetry && !result.raised;
}

} // namespace

class TestTreeCopy : public QObject
{
    Q_OBJECT

private slots:
    void folderRulesInWholeRuns_data()
    {
        QTest::addColumn<QList<ProgramFolder::Entry>>("entries");
        QTest::addColumn<QStringList>("files");      // below the program folder; content is "<path>"
        QTest::addColumn<QStringList>("memo");       // copy runs sorted
        QTest::addColumn<QStringList>("driveFiles"); // NAME files left out

        using Entries = QList<ProgramFolder::Entry>;
        const QString connecting = "Connecting VX900 ...", modules = "Copying ALL modules ...",
                      system = "Copying System files ...", done = "Copy completed!";
        QTest::newRow("target files, no MainFrame: the system phase copies nothing")
            << Entries{{3, "KRN3", 0}} << QStringList{"target/KRN3/a"}
            << QStringList{connecting, modules, "** KRN3", "Copying... a", "", system, done}
            << QStringList{"KRN3/a"};
        QTest::newRow("both trees empty: neither phase")
            << Entries{{3, "KRN3", 0}} << QStringList{"target/KRN3/"} << QStringList{connecting, done}
            << QStringList{};
        QTest::newRow("a module without a check box is copied too")
            << Entries{{9, "EXTRA", 0}} << QStringList{"target/EXTRA/x", "target/UNLISTED/u"}
            << QStringList{connecting, modules, "** EXTRA", "Copying... x", "", system, done}
            << QStringList{"EXTRA/x"};
        QTest::newRow("SIGNAL exactly, at the module's top only")
            << Entries{{3, "KRN3", 0}}
            << QStringList{"target/KRN3/SIGNAL/s", "target/KRN3/Signal/t", "target/KRN3/sub/SIGNAL/u",
                           "MainFrame/SIGNAL/v"}
            << QStringList{connecting, modules, "** KRN3", "Copying... t", "Copying... u", "", system,
                           "Copying... v", done}
            << QStringList{"KRN3/Signal/t", "KRN3/sub/SIGNAL/u", "SYSTEM/SIGNAL/v"};
        QTest::newRow("dot names skipped at every depth")
            << Entries{{3, "KRN3", 0}}
            << QStringList{"target/KRN3/.a", "target/KRN3/.d/x", "target/KRN3/sub/.b", "target/KRN3/sub/keep",
                           "MainFrame/.c"}
            << QStringList{connecting, modules, "** KRN3", "Copying... keep", "", system, done}
            << QStringList{"KRN3/sub/keep"};
        QTest::newRow("an empty file is copied")
            << Entries{{3, "KRN3", 0}} << QStringList{"target/KRN3/empty="}
            << QStringList{connecting, modules, "** KRN3", "Copying... empty", "", system, done}
            << QStringList{"KRN3/empty"};
        QTest::newRow("three levels")
            << Entries{{3, "KRN3", 0}} << QStringList{"target/KRN3/a/b/c/deep", "target/KRN3/a/top"}
            << QStringList{connecting, modules, "** KRN3", "Copying... deep", "Copying... top", "", system, done}
            << QStringList{"KRN3/a/b/c/deep", "KRN3/a/top"};
        QTest::newRow("an empty name copies all of target, SIGNAL folders too")
            << Entries{{4, "", 0}} << QStringList{"target/KRN3/SIGNAL/s", "target/KRN3/f"}
            << QStringList{connecting, modules, "** ", "Copying... f", "Copying... s", "", system, done}
            << QStringList{"KRN3/SIGNAL/s", "KRN3/f"};
        QTest::newRow("two entries with one id")
            << Entries{{3, "KRN3", 0}, {3, "LPS3", 0}} << QStringList{"target/KRN3/k", "target/LPS3/l"}
            << QStringList{connecting, modules, "** KRN3", "Copying... k", "** LPS3", "Copying... l", "", system, done}
            << QStringList{"KRN3/k", "LPS3/l"};
    }

    void folderRulesInWholeRuns()
    {
        QFETCH(QList<ProgramFolder::Entry>, entries);
        QFETCH(QStringList, files);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni(entries);
        for (const QString &file : files) {
            if (file.endsWith('/'))
                folder.makeFolder(file);
            else if (file.endsWith('='))
                folder.write(file.chopped(1), QByteArray());
            else
                folder.write(file, file.toUtf8());
        }
        RunRig rig(folder.path(), sim.ports());
        const RunResult result = rig.run.Run("127.0.0.1");

        QCOMPARE(result.outcome, RunOutcome::Succeeded);
        QCOMPARE(rig.observer.boxes.texts(), QStringList{SuccessText});
        QFETCH(QStringList, memo);
        // Every file sent was checked by the simulator's MLSD, said once;
        // Nothing from the kit sent is said instead.
        if (!memo.filter(QRegularExpression("^Copying\\.\\.\\. ")).isEmpty())
            memo.insert(memo.size() - 1, upgrade::SendCheck::methodText(upgrade::SendCheck::Method::FtpListing));
        else
            memo.insert(memo.size() - 1, UpgradeRun::NothingSentText);
        QCOMPARE(withCopyRunsSorted(rig.observer.memo), memo);
        QCOMPARE(rig.observer.barNow, 100);
        QStringList copied = sim.files();
        copied.removeIf([](const QString &path) { return path.endsWith("/NAME"); });
        QTEST(copied, "driveFiles");
        for (const QString &path : copied)
            QCOMPARE(sim.file("/F0:/" + path), path.endsWith("empty") ? QByteArray() : sourceOf(path).toUtf8());
        QSet<qint32> ids;
        for (const auto &entry : entries)
            ids.insert(entry.id);
        QCOMPARE(sim.files().filter("/NAME").size(), ids.size());
    }

    // Counters are 64-bit; the bar is truncated, stays put when nothing was
    // measured, and never passes its end.
    void progressAfterEachFile_data()
    {
        QTest::addColumn<qint64>("copiedBefore");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<int>("barBefore");
        QTest::addColumn<int>("bar");
        const qint64 gib = qint64(1) << 30;
        QTest::newRow("past 4 GiB") << 3 * gib << 4 * gib << 1000 << 0 << 75;
        QTest::newRow("crossing 2 GiB") << 2 * gib - 1000 << 4 * gib << 1000 << 0 << 50;
        QTest::newRow("truncated, not rounded") << qint64(0) << qint64(10000) << 9999 << 0 << 99;
        QTest::newRow("nothing measured: the bar stays") << qint64(0) << qint64(0) << 10 << 37 << 37;
        QTest::newRow("a file grown since measuring stops at the end") << qint64(0) << qint64(100) << 1000 << 0 << 100;
    }

    void progressAfterEachFile()
    {
        QFETCH(qint64, copiedBefore);
        QFETCH(qint64, total);
        QFETCH(int, fileSize);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.write("MainFrame/f", sampleBytes(fileSize, 7));
        auto rig = linkedRun(sim, folder);
        QVERIFY(rig);
        rig->run.copiedBytes = copiedBefore;
        rig->run.totalBytes = total;
        QFETCH(int, barBefore);
        rig->run.barPosition = barBefore;

        QVERIFY(rig->run.CopySystemFiles());
        QTEST(rig->run.barPosition, "bar");
        QTEST(rig->observer.progressReports.last().bar, "bar");
        QCOMPARE(rig->run.copiedBytes, copiedBefore + fileSize);
        QCOMPARE(sim.file("/F0:/SYSTEM/f"), sampleBytes(fileSize, 7));
    }

    // A name the instrument's command line can't carry ends the run with the
    // download box, after a memo line naming the path; nothing of it is sent.
    void namesTheInstrumentCantTake_data()
    {
        QTest::addColumn<QString>("moduleName");
        QTest::addColumn<QString>("file");      // below the program folder
        QTest::addColumn<QString>("shownPath"); // below the program folder, as the memo shows it
        QTest::addColumn<QString>("fragment");  // must never reach the instrument
        QTest::newRow("file with a double quote")
            << "KRN3" << "target/KRN3/bad\"name" << "target/KRN3/bad\"name" << "bad";
        QTest::newRow("folder with a double quote")
            << "KRN3" << "target/KRN3/dir\"x/f" << "target/KRN3/dir\"x" << "dir";
        QTest::newRow("file with a line feed")
            << "KRN3" << "target/KRN3/two\nlines" << "target/KRN3/two\\x0alines" << "lines";
        QTest::newRow("file with a C1 control character")
            << "KRN3" << "target/KRN3/nel\u0085x" << "target/KRN3/nel\\x85x" << "nel";
        QTest::newRow("system folder with a control character")
            << "KRN3" << "MainFrame/ctl\x01/f" << "MainFrame/ctl\\x01" << "ctl";
        QTest::newRow("module name with a double quote")
            << "KR\"N3" << "target/KR\"N3/f" << "target/KR\"N3" << "KR\"N3";
    }

    void namesTheInstrumentCantTake()
    {
        QFETCH(QString, moduleName);
        QFETCH(QString, file);
        QFETCH(QString, shownPath);
        QFETCH(QString, fragment);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, moduleName, 0}});
        folder.write(file, "x");
        RunRig rig(folder.path(), sim.ports());
        const RunResult result = rig.run.Run("127.0.0.1");

        QVERIFY(endedRefused(rig.observer.boxes.texts()));
        QCOMPARE(rig.observer.memo.last(),
                 "Name not accepted by VX900 (double quote or control character): " + folder.path() + shownPath);
        QVERIFY(!sim.sent("cmd").filter(QRegularExpression("CDIR|MDIR")).join('\n').contains(fragment));
        QVERIFY(!sim.sent("ftp").join('\n').contains(fragment));
        QVERIFY(endedForGood(result));
    }

    // Entries that would hang or loop the copy end the run before the first
    // write, with a memo line from the kit check naming each.
    void entriesThatCantBeCopied_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("memoLine");
        QTest::newRow("pipe") << "pipe" << "Not a regular file (pipe, device or socket): %1MainFrame/entry";
        QTest::newRow("dangling link") << "dangling" << "Link leads nowhere: %1MainFrame/entry";
        QTest::newRow("link back to an ancestor") << "loop" << "Folder leads back into itself: %1MainFrame/entry";
    }

    void entriesThatCantBeCopied()
    {
        QFETCH(QString, kind);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({});
        folder.write("MainFrame/keep", "k");
        const QString entry = folder.path() + "MainFrame/entry";
        if (kind == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(entry).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(kind == "loop" ? folder.path() + "MainFrame" : folder.path() + "gone", entry));
        RunRig rig(folder.path(), sim.ports());
        const RunResult result = rig.run.Run("127.0.0.1");

        QVERIFY(endedRefused(rig.observer.boxes.texts()));
        QFETCH(QString, memoLine);
        QVERIFY2(rig.observer.memo.contains(memoLine.arg(folder.path())), qPrintable(rig.observer.memo.join(QLatin1Char('\n'))));
        QVERIFY(endedForGood(result));
    }

    // A folder that can't be listed is not an empty one: the run ends after
    // a memo line naming it, and nothing is sent; the kit check (also called
    // on its own) meets it, and the copy sends only from the check's list.
    void folderThatCantBeListedEndsTheRun_data()
    {
        QTest::addColumn<bool>("wholeRun");
        QTest::newRow("whole run") << true;
        QTest::newRow("kit check on its own") << false;
    }

    void folderThatCantBeListedEndsTheRun()
    {
        QFETCH(bool, wholeRun);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        folder.write("target/KRN3/a", "a");
        folder.write("target/KRN3/locked/hidden-from-us", "h");
        RunRig rig(folder.path(), sim.ports());
        if (!wholeRun) {
            QVERIFY(rig.link.Connect("127.0.0.1"));
            rig.link.SetTransferType(TTransferType::Image);
        }
        const QString locked = folder.path() + "target/KRN3/locked";
        RunResult result;
        {
            UnreadableEntry unlistable(locked);
            if (!unlistable.usable())
                QSKIP(unlistable.whyNot());
            if (wholeRun)
                result = rig.run.Run("127.0.0.1");
            else
                QVERIFY(!rig.run.checkKit());
        }
        const QString line = "Folder can't be listed: " + locked + " (Permission denied)";
        if (wholeRun) {
            QVERIFY(endedRefused(rig.observer.boxes.texts()));
            QCOMPARE(rig.observer.memo.last(), line);
            QVERIFY(endedForGood(result));
            QVERIFY(!sim.sent("ftp").join('\n').contains("KRN3")); // nothing of the module was sent
        } else {
            QCOMPARE(rig.observer.memo.filter("can't be listed"), QStringList{line});
        }
        QVERIFY(sim.file("/F0:/KRN3/locked/hidden-from-us").isEmpty());
    }

    // An upload refused three levels down raises through every level; each
    // level's listing is closed on the way out.
    void failureDeepDownClosesEveryListing()
    {
        SimInstrument sim({"--stor-refuse", "553"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.write("MainFrame/l1/l2/l3/deep", "d");
        folder.makeFolder("MainFrame/l1/l2/empty2");
        folder.makeFolder("MainFrame/l1/empty1");
        auto rig = linkedRun(sim, folder);
        QVERIFY(rig);
        const int descriptorsBefore = openDescriptors();
        bool raised = false;
        try {
            static_cast<void>(rig->run.CopySystemFiles());
        } catch (const Exception &) {
            raised = true;
        }
        QVERIFY(raised);
        QCOMPARE(openDescriptors(), descriptorsBefore);
        QCOMPARE(rig->observer.boxes.texts(), (QStringList{"Upload failed", "Upload failed"}));
        QCOMPARE(rig->observer.memo, QStringList{"Copying... deep"});
        QCOMPARE(rig->observer.files, QStringList{"/F0:/SYSTEM/l1/l2/l3/deep 1 failed"});
        QCOMPARE(rig->run.copiedBytes, qint64(0));
        QVERIFY(sim.files().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTreeCopy)
#include "tst_treecopy.moc"

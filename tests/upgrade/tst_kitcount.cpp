// The kit check's counts of both trees, which decide the copy's phases, the
// copy following its list when a box changes since, and the low-space
// prompt, on the run and its catalogue.
#include "platform/LocalFolder.h"
#include "platform/UnreadableEntry.h"
#include "support/RunFixture.h"
#include "support/RunRig.h"
#include "support/SimInstrument.h"
#include "upgrade/kit/KitPreflight.h"

#include <QFile>
#include <QtTest>

using namespace upgrade;

namespace {

// "path:size" entries; a path ending in "/" is an empty folder, "a->b" a link.
void layOut(ProgramFolder &folder, const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (entry.contains(QStringLiteral("->"))) {
            const QStringList parts = entry.split(QStringLiteral("->"));
            QVERIFY(QFile::link(parts[1], folder.path() + parts[0]));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            folder.makeFolder(entry);
        } else {
            const QStringList parts = entry.split(QLatin1Char(':'));
            folder.write(parts[0], sampleBytes(parts[1].toInt(), 1));
        }
    }
}

} // namespace

class TestKitCount : public QObject
{
    Q_OBJECT

private slots:
    // Every file counts, whatever the copy does with it: the phases are
    // entered by what the trees hold.
    void countsEveryFileOfBothTrees_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("catalogueKrn3Only"); // else the folders in target are the catalogue
        QTest::addColumn<qint64>("moduleFiles");
        QTest::addColumn<qint64>("systemFiles");

        QTest::newRow("target 3 files, SIGNAL unticked, no MainFrame")
            << QStringList{"target/KRN3/a:10", "target/KRN3/SIGNAL/b:20", "target/loose:5"} << false
            << qint64(3) << qint64(0);
        QTest::newRow("no target, MainFrame 2 files")
            << QStringList{"MainFrame/x:1", "MainFrame/sub/y:2"} << false << qint64(0) << qint64(2);
        QTest::newRow("both empty") << QStringList{"target/", "MainFrame/"} << false << qint64(0) << qint64(0);
        QTest::newRow("an empty file counts") << QStringList{"target/KRN3/empty:0"} << false << qint64(1)
                                              << qint64(0);
        QTest::newRow("dot names skipped at every depth")
            << QStringList{"target/.hidden:5",  "target/.dot/a:5",        "target/KRN3/.x:5",
                           "target/KRN3/sub/.y/z:5", "target/KRN3/sub/real:7", "MainFrame/.profile:3"}
            << false << qint64(1) << qint64(0);
        QTest::newRow("folders found in any letter case")
            << QStringList{"TARGET/KRN3/a:4", "mainframe/b:6"} << false << qint64(1) << qint64(1);
        QTest::newRow("folders no catalogue entry names, three levels deep")
            << QStringList{"target/KRN3/k:1", "target/A/B/C/f:9", "target/UNLISTED/SIGNAL/s:1"} << true
            << qint64(3) << qint64(0);
        QTest::newRow("only an unticked SIGNAL folder holds files")
            << QStringList{"target/KRN3/SIGNAL/s:1", "MainFrame/"} << true << qint64(1) << qint64(0);
        QTest::newRow("a link back to an ancestor is not walked again")
            << QStringList{"target/KRN3/f:3", "target/KRN3/loop->..", "MainFrame/m:2"} << false << qint64(1)
            << qint64(1);
    }

    void countsEveryFileOfBothTrees()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, catalogueKrn3Only);
        ProgramFolder folder;
        if (catalogueKrn3Only)
            folder.writeIni({{3, "KRN3", 0}});
        layOut(folder, entries);
        RunRig rig(folder.path(), {});

        const KitPlan plan = CheckKit(folder.path(), rig.catalogue.entries());
        QTEST(plan.moduleTreeFiles, "moduleFiles");
        QTEST(plan.systemTreeFiles, "systemFiles");
    }

    // A folder the run sends nothing of is no problem of the kit when it
    // can't be listed; the copy names it, in the order "target" lists it.
    void unlistedFoldersOutsideThePlan()
    {
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        folder.write("target/KRN3/k", "k");
        folder.write("target/KRN3/SIGNAL/locked/s", "s");
        folder.write("target/LPS3/SIGNAL/s", "s");
        folder.write("target/OTHER/locked/o", "o");
        const QString target = folder.path() + "target";
        const QHash<QString, QString> lockedIn{{"KRN3", target + "/KRN3/SIGNAL/locked"},
                                               {"LPS3", target + "/LPS3/SIGNAL"},
                                               {"OTHER", target + "/OTHER/locked"}};
        UnreadableEntry krn3(lockedIn["KRN3"]);
        UnreadableEntry lps3(lockedIn["LPS3"]);
        UnreadableEntry other(lockedIn["OTHER"]);
        for (const UnreadableEntry *entry : {&krn3, &lps3, &other}) {
            if (!entry->usable())
                QSKIP(entry->whyNot().constData());
        }
        RunRig rig(folder.path(), {});

        const KitPlan plan = CheckKit(folder.path(), rig.catalogue.entries());
        QVERIFY(plan.sendable());
        QStringList expected;
        platform::FolderListing listing(target);
        for (platform::FolderEntry entry; listing.next(entry);) {
            if (!entry.name.startsWith('.'))
                expected << lockedIn[entry.name];
        }
        QStringList unlisted;
        for (const KitProblem &problem : plan.unlistedOutsidePlan)
            unlisted << problem.localPath;
        QCOMPARE(unlisted, expected);
    }

    // The copy goes down the kit check's list, yet reads the boxes as it
    // reaches each SIGNAL folder: one ticked since is walked and sent then,
    // one unticked since is passed over.
    void boxChangedDuringTheCopy_data()
    {
        QTest::addColumn<bool>("tickedAtStart");
        QTest::newRow("ticked during the copy") << false;
        QTest::newRow("unticked during the copy") << true;
    }

    void boxChangedDuringTheCopy()
    {
        QFETCH(bool, tickedAtStart);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        folder.write("target/KRN3/k", sampleBytes(100, 1));
        folder.write("target/LPS3/l", sampleBytes(100, 2));
        folder.write("target/LPS3/SIGNAL/deep/s", sampleBytes(100, 3));
        RunRig rig(folder.path(), sim.ports());
        rig.catalogue.TickBox("LPS3", tickedAtStart);
        rig.observer.onProgress = [&rig, tickedAtStart](const RunProgress &progress) {
            if (progress.file == "/F0:/KRN3/k")
                rig.catalogue.TickBox("LPS3", !tickedAtStart);
        };

        const RunResult result = rig.run.Run("127.0.0.1");
        QCOMPARE(result.outcome, RunOutcome::Succeeded);
        QCOMPARE(sim.file("/F0:/LPS3/l"), sampleBytes(100, 2));
        QCOMPARE(sim.file("/F0:/LPS3/SIGNAL/deep/s"), tickedAtStart ? QByteArray() : sampleBytes(100, 3));
        QCOMPARE(rig.observer.memo.contains("Copying... s"), !tickedAtStart);
    }

    void lowSpacePrompt_data()
    {
        QTest::addColumn<bool>("krnEnabled");
        QTest::addColumn<bool>("przEnabled");
        QTest::addColumn<bool>("krnTickedBefore");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("krnLocked"); // disabled and ticked, entry flag set
        QTest::addColumn<bool>("przLocked");

        const int yes = platform::IDYES, no = platform::IDNO;
        QTest::newRow("yes locks both") << true << true << false << yes << true << true << true;
        QTest::newRow("yes leaves a disabled box alone") << true << false << false << yes << true << true << false;
        QTest::newRow("yes with both disabled changes nothing") << false << false << false << yes << true << false << false;
        QTest::newRow("yes when KRN3 was ticked already") << true << true << true << yes << true << true << true;
        QTest::newRow("no changes nothing") << true << true << false << no << false << false << false;
    }

    void lowSpacePrompt()
    {
        QFETCH(bool, krnEnabled);
        QFETCH(bool, przEnabled);
        QFETCH(bool, krnTickedBefore);
        QFETCH(int, answer);
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {7, "PRZ53", 0}});
        folder.write("target/KRN3/f", "k");
        folder.write("target/PRZ53/f", "p");
        if (krnEnabled)
            folder.makeFolder("target/KRN3/SIGNAL");
        if (przEnabled)
            folder.makeFolder("target/PRZ53/SIGNAL");
        RunRig rig(folder.path(), {});
        ModuleCatalogue &catalogue = rig.catalogue;
        QCOMPARE(catalogue.box("KRN3").enabled, krnEnabled);
        if (krnTickedBefore) {
            catalogue.TickBox("KRN3", true);
            QVERIFY(catalogue.at(0)->hasSignal);
        }

        BoxAnswers &boxes = rig.observer.boxes;
        boxes.answer = [answer](const RecordedBox &) { return answer; };
        QTEST(rig.run.ConfirmLowSpace(), "result");

        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text,
                 QString("There is not enough space to upgrade VX900.\n\n"
                         "The signals of PRZ53/KRN3 are overwritten with compressed signals.\n\n"
                         "Click YES to continue?"));
        QCOMPARE(boxes.shown[0].caption, QString("VX900 Upgrade"));
        QCOMPARE(boxes.shown[0].flags, 36);

        QFETCH(bool, krnLocked);
        QFETCH(bool, przLocked);
        QCOMPARE(catalogue.box("KRN3").enabled, krnEnabled && !krnLocked);
        QCOMPARE(catalogue.box("KRN3").ticked, krnLocked || krnTickedBefore);
        QCOMPARE(catalogue.at(0)->hasSignal, krnLocked || krnTickedBefore);
        QCOMPARE(catalogue.box("PRZ53").enabled, przEnabled && !przLocked);
        QCOMPARE(catalogue.box("PRZ53").ticked, przLocked);
        QCOMPARE(catalogue.at(1)->hasSignal, przLocked);
    }
};

QTEST_GUILESS_MAIN(TestKitCount)
#include "tst_kitcount.moc"

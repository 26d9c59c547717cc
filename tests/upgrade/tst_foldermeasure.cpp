// Measuring local trees and the low-space prompt, on the run and its
// catalogue.
#include "platform/LocalFolder.h"
#include "support/RunFixture.h"
#include "support/RunRig.h"

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

class TestFolderMeasure : public QObject
{
    Q_OBJECT

private slots:
    void measuresTargetThenMainFrame_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<qint64>("afterTarget");
        QTest::addColumn<qint64>("afterMainFrame");
        QTest::addColumn<qint64>("bytes");

        QTest::newRow("target 3 files, no MainFrame: the count runs on")
            << QStringList{"target/KRN3/a:10", "target/KRN3/SIGNAL/b:20", "target/loose:5"}
            << qint64(3) << qint64(3) << qint64(35);
        QTest::newRow("no target, MainFrame 2 files")
            << QStringList{"MainFrame/x:1", "MainFrame/sub/y:2"} << qint64(0) << qint64(2) << qint64(3);
        QTest::newRow("both empty") << QStringList{"target/", "MainFrame/"} << qint64(0) << qint64(0)
                                    << qint64(0);
        QTest::newRow("an empty file counts, adds no bytes")
            << QStringList{"target/KRN3/empty:0"} << qint64(1) << qint64(1) << qint64(0);
        QTest::newRow("dot names skipped at every depth")
            << QStringList{"target/.hidden:5",  "target/.dot/a:5",        "target/KRN3/.x:5",
                           "target/KRN3/sub/.y/z:5", "target/KRN3/sub/real:7", "MainFrame/.profile:3"}
            << qint64(1) << qint64(1) << qint64(7);
        QTest::newRow("folders found in any letter case")
            << QStringList{"TARGET/KRN3/a:4", "mainframe/b:6"} << qint64(1) << qint64(2) << qint64(10);
        QTest::newRow("three levels deep, no rule by name")
            << QStringList{"target/A/B/C/f:9", "target/UNLISTED/SIGNAL/s:1"} << qint64(2) << qint64(2)
            << qint64(10);
        QTest::newRow("a link back to an ancestor is not walked again")
            << QStringList{"target/KRN3/f:3", "target/KRN3/loop->..", "MainFrame/m:2"} << qint64(1)
            << qint64(2) << qint64(5);
    }

    void measuresTargetThenMainFrame()
    {
        QFETCH(QStringList, entries);
        ProgramFolder folder;
        layOut(folder, entries);
        RunRig rig(folder.path(), {});

        QFETCH(qint64, afterTarget);
        QFETCH(qint64, afterMainFrame);
        QCOMPARE(rig.run.MeasureFolder(platform::JoinLocalPath(folder.path(), "Target")), afterTarget);
        QCOMPARE(rig.run.MeasureFolder(platform::JoinLocalPath(folder.path(), "MainFrame")), afterMainFrame);
        QCOMPARE(rig.run.fileCount, afterMainFrame);
        QTEST(rig.run.totalBytes, "bytes");
    }

    // Counters and sizes are 64-bit: a tree past 2 GiB and 4 GiB measures
    // exactly (sparse files, so nothing is written).
    void measuresTreesPastFourGibibytes()
    {
        ProgramFolder folder;
        const qint64 big = (qint64(3) << 30) + 1;
        for (const QString &name : {QStringLiteral("target/KRN3/big1"), QStringLiteral("target/KRN3/big2")}) {
            QFile file(folder.write(name, QByteArray()));
            QVERIFY(file.resize(big));
        }
        RunRig rig(folder.path(), {});
        QCOMPARE(rig.run.MeasureFolder(platform::JoinLocalPath(folder.path(), "Target")), qint64(2));
        QCOMPARE(rig.run.totalBytes, 2 * big);
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

QTEST_GUILESS_MAIN(TestFolderMeasure)
#include "tst_foldermeasure.moc"

// The check of a kit before the first write: the plan it makes, every
// problem it finds, the kit digest, the digest cache, and the dry run's text.
#include "platform/UnreadableEntry.h"
#include "upgrade/kit/DigestCache.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/kit/PlanPrinter.h"
#include "upgrade/kit/SentKitFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace upgrade;

namespace {

const QByteArray AbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const QByteArray EmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Writes (replacing at once, so under a new inode) a file below `root`.
QString put(const QString &root, const QString &relative, const QByteArray &content)
{
    const QString path = root + '/' + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

ModuleList catalogue(const QList<std::pair<QString, bool>> &modules)
{
    ModuleList list;
    for (int i = 0; i < modules.size(); ++i)
        list.push_back(std::make_unique<ModuleEntry>(ModuleEntry{i + 1, modules[i].first, modules[i].second}));
    return list;
}

QStringList folderPaths(const KitPlan &plan)
{
    QStringList paths;
    for (const PlannedFolder &folder : plan.folders)
        paths << folder.instrumentPath();
    paths.sort();
    return paths;
}

// "path size digest" of each planned file, sorted.
QStringList fileLines(const KitPlan &plan)
{
    QStringList lines;
    for (const PlannedFile &file : plan.files)
        lines << QStringLiteral("%1 %2 %3").arg(file.instrumentPath).arg(file.size).arg(QString(file.sha256.toHex()));
    lines.sort();
    return lines;
}

QStringList problemTexts(const KitPlan &plan, const QString &root)
{
    QStringList texts;
    for (const KitProblem &problem : plan.problems)
        texts << problem.text().replace(root, QStringLiteral("<kit>"));
    texts.sort();
    return texts;
}

} // namespace

class TestKitPreflight : public QObject
{
    Q_OBJECT

private slots:
    // The copy's rules: the catalogue's module trees (SIGNAL only when
    // ticked), the system files, dot names skipped, local names in any case.
    void plansWhatTheCopySends()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        put(root, "Target/KRN3/a.bin", "abc");
        put(root, "Target/KRN3/SIGNAL/s.wfm", "");
        put(root, "Target/KRN3/.git/x", "x");
        put(root, "Target/LPS3/SIGNAL/unticked", "u");
        put(root, "Target/LPS3/DATA/d", "abc");
        put(root, "Target/UNLISTED/u", "u");
        put(root, "Target/loose", "l");
        put(root, "mainframe/sys/boot", "abc");

        const KitPlan plan = CheckKit(root + '/', catalogue({{"KRN3", true}, {"LPS3", false}}));
        QVERIFY(plan.sendable());
        QCOMPARE(folderPaths(plan),
                 (QStringList{"/F0:/KRN3", "/F0:/KRN3/SIGNAL", "/F0:/LPS3", "/F0:/LPS3/DATA", "/F0:/SYSTEM/sys"}));
        QCOMPARE(fileLines(plan), (QStringList{"/F0:/KRN3/SIGNAL/s.wfm 0 " + EmptySha256,
                                               "/F0:/KRN3/a.bin 3 " + AbcSha256, "/F0:/LPS3/DATA/d 3 " + AbcSha256,
                                               "/F0:/SYSTEM/sys/boot 3 " + AbcSha256}));
        QCOMPARE(plan.totalBytes, qint64(9));
        QCOMPARE(plan.bytesDigested, qint64(9));
        QCOMPARE(plan.nameFiles.size(), 2);
        QCOMPARE(plan.nameFiles[1].path(), QStringLiteral("/F0:/SYSTEM/MID2/NAME"));
    }

    // Every problem is found, one each, not only the first; nothing below a
    // bad folder repeats it.
    void findsEveryProblem()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        put(root, "target/KRN3/fine", "f");
        put(root, "target/KRN3/bad\"name", "b");
        put(root, "target/KRN3/dir\x01x/inner\"too", "i");
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/target/KRN3/pipe").constData(), 0600), 0);
        QVERIFY(QFile::link(root + "/nowhere", root + "/target/KRN3/dangling"));
        QVERIFY(QDir().mkpath(root + "/target/KRN3/SIGNAL"));
        QVERIFY(QFile::link(root + "/target/KRN3", root + "/target/KRN3/SIGNAL/loop"));
        put(root, "target/KR\"X/f", "f");
        put(root, "MainFrame/nel\u0085", "n");

        const KitPlan plan = CheckKit(root + '/', catalogue({{"KRN3", true}, {"KR\"X", true}}));
        QVERIFY(!plan.sendable());
        const QString unsafe = "Name not accepted by VX900 (double quote or control character): <kit>/";
        QCOMPARE(problemTexts(plan, root),
                 (QStringList{"Folder leads back into itself: <kit>/target/KRN3/SIGNAL/loop",
                              "Link leads nowhere: <kit>/target/KRN3/dangling",
                              unsafe + "MainFrame/nel\\x85", unsafe + "target/KR\"X", unsafe + "target/KRN3/bad\"name",
                              unsafe + "target/KRN3/dir\\x01x",
                              "Not a regular file (pipe, device or socket): <kit>/target/KRN3/pipe"}));
        QCOMPARE(fileLines(plan).size(), 1); // "fine" is still planned
    }

    void unreadableFolderAndFileAreProblems()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        put(root, "target/KRN3/locked/inside", "i");
        put(root, "target/KRN3/after", "a");
        put(root, "MainFrame/secret", "s");
        const UnreadableEntry folder(root + "/target/KRN3/locked");
        const UnreadableEntry file(root + "/MainFrame/secret");
        const UnreadableEntry target(root + "/target"); // its modules are found by listing it
        for (const UnreadableEntry *entry : {&folder, &file, &target}) {
            if (!entry->usable())
                QSKIP(entry->whyNot());
        }

        const KitPlan plan = CheckKit(root + '/', catalogue({{"KRN3", false}}));
        QCOMPARE(problemTexts(plan, root), (QStringList{"File can't be read: <kit>/MainFrame/secret (Permission denied)",
                                                        "Folder can't be listed: <kit>/target (Permission denied)",
                                                        "Folder can't be listed: <kit>/target/KRN3/locked (Permission denied)"}));
        QCOMPARE(fileLines(plan).size(), 1);
    }

    // The kit digest names the content sent and where it goes, not where
    // the kit lies or how its local folders are spelt.
    void kitDigestFollowsContentAndPlace()
    {
        QTemporaryDir one, two;
        put(one.path(), "target/KRN3/SIGNAL/s", "signal");
        put(one.path(), "MainFrame/m", "main");
        put(two.path(), "TARGET/KRN3/SIGNAL/s", "signal");
        put(two.path(), "mainframe/m", "main");
        const auto digest = [](const QTemporaryDir &dir, bool ticked) {
            return CheckKit(dir.path(), catalogue({{"KRN3", ticked}})).kitDigest();
        };
        const QByteArray first = digest(one, true);
        QCOMPARE(first.size(), 64);
        QCOMPARE(digest(two, true), first);
        QVERIFY(digest(two, false) != first); // the signals are not part of it
        put(two.path(), "mainframe/m", "mane");
        QVERIFY(digest(two, true) != first);
    }

    void cacheSpendsNoReadOnUnchangedFiles()
    {
        QTemporaryDir kit, state;
        put(kit.path(), "MainFrame/a", "abc");
        const QString b = put(kit.path(), "MainFrame/b", QByteArray(100000, 'b'));
        const QString cacheFile = state.filePath("digests");
        const auto check = [&] {
            DigestCache cache(cacheFile, 0);
            cache.load();
            const KitPlan plan = CheckKit(kit.path(), {}, &cache);
            if (cache.save())
                qFatal("cache not saved");
            return plan;
        };
        const KitPlan first = check();
        QCOMPARE(first.digestsFromCache, 0);
        const KitPlan second = check();
        QCOMPARE(second.digestsFromCache, 2);
        QCOMPARE(second.bytesDigested, qint64(0));
        QCOMPARE(fileLines(second), fileLines(first));

        put(kit.path(), "MainFrame/b", QByteArray(100000, 'c')); // same size, new content
        const KitPlan third = check();
        QCOMPARE(third.digestsFromCache, 1);
        QCOMPARE(third.bytesDigested, qint64(100000));
        QVERIFY(fileLines(third) != fileLines(first));

        // A file written a moment ago may change again within the same tick
        // of the file system's clock: its digest is not kept.
        DigestCache cautious(cacheFile);
        QFile fresh(b);
        QVERIFY(fresh.open(QIODevice::ReadOnly));
        const std::optional<FileStamp> stamp = FileStamp::of(fresh);
        QVERIFY(stamp);
        cautious.remember(b, *stamp, QByteArray(32, 'x'));
        QVERIFY(!cautious.find(b, *stamp));
    }

    // The cache holds the kits in use: a file that is gone, or that no run
    // found for KeepRuns runs, leaves it at the next save.
    void cacheKeepsOnlyTheKitsInUse()
    {
        QTemporaryDir kitA, kitB, state;
        put(kitA.path(), "MainFrame/a1", "one");
        const QString a2 = put(kitA.path(), "MainFrame/a2", "two");
        const QString b1 = put(kitB.path(), "MainFrame/b1", "three");
        const QString cacheFile = state.filePath("digests");
        const auto runOn = [&](const QList<QTemporaryDir *> &kits) {
            DigestCache cache(cacheFile, 0);
            cache.load();
            for (QTemporaryDir *kit : kits)
                static_cast<void>(CheckKit(kit->path(), {}, &cache));
            if (cache.save())
                qFatal("cache not saved");
            return cache.currentRun();
        };
        const auto cachedPaths = [&] {
            QFile file(cacheFile);
            if (!file.open(QIODevice::ReadOnly))
                qFatal("no cache file");
            QStringList paths;
            for (const QByteArray &line : file.readAll().split('\n').mid(1))
                if (!line.isEmpty())
                    paths << QString::fromUtf8(line.split('\t').last()).section('/', -1);
            paths.sort();
            return paths;
        };

        const qint64 first = runOn({&kitA, &kitB});
        QCOMPARE(cachedPaths(), (QStringList{"a1", "a2", "b1"}));
        QVERIFY(QFile::remove(a2));
        while (runOn({&kitA}) < first + DigestCache::KeepRuns - 1) {
        }
        QCOMPARE(cachedPaths(), (QStringList{"a1", "b1"})); // b1 last used KeepRuns - 1 runs ago
        QCOMPARE(runOn({&kitA}), first + DigestCache::KeepRuns);
        QCOMPARE(cachedPaths(), QStringList{"a1"});
        runOn({&kitB}); // read again, and known again
        QCOMPARE(cachedPaths(), (QStringList{"a1", "b1"}));
        QVERIFY(QFileInfo::exists(b1));
    }

    // The check around a kit file's upload. A settled stamp vouches alone
    // (a write moves the change time even when the modification time is set
    // back); a fresh one has the bytes read again.
    void sentFileIsWhatPreflightRead_data()
    {
        QTest::addColumn<bool>("settled");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("beforeOpen");
        QTest::addColumn<bool>("same");
        QTest::newRow("untouched") << true << "" << false << true;
        QTest::newRow("fresh, read again") << false << "" << false << true;
        QTest::newRow("fresh, other bytes") << false << "digest" << false << false;
        QTest::newRow("overwritten, time set back") << true << "overwrite" << false << false;
        QTest::newRow("replaced while open") << true << "replace" << false << false;
        QTest::newRow("replaced before open") << true << "replace" << true << false;
    }

    void sentFileIsWhatPreflightRead()
    {
        QFETCH(bool, settled);
        QFETCH(QString, change);
        QFETCH(bool, beforeOpen);
        QTemporaryDir kit;
        const QString path = put(kit.path(), "f", "abc");
        QFile read(path);
        QVERIFY(read.open(QIODevice::ReadOnly));
        const std::optional<FileStamp> stamp = FileStamp::of(read);
        QVERIFY(stamp);
        PlannedFile planned{path, "/F0:/f", 3, QByteArray::fromHex(AbcSha256), -1, *stamp, settled};
        if (change == "digest")
            planned.sha256 = QByteArray::fromHex(EmptySha256);
        const auto apply = [&] {
            if (change == "replace") {
                put(kit.path(), "f", "abc");
            } else if (change == "overwrite") {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite) && file.write("xyz") == 3);
                file.close();
                const struct timespec times[2] = {{0, UTIME_OMIT},
                                                  {stamp->modifiedNs / 1'000'000'000, stamp->modifiedNs % 1'000'000'000}};
                QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
            }
        };
        SentKitFile sent(path, &planned);
        if (beforeOpen)
            apply();
        if (!sent.open()) {
            QVERIFY(beforeOpen);
            return;
        }
        QVERIFY(!beforeOpen);
        apply();
        QTEST(sent.unchanged(), "same");
        QVERIFY(!SentKitFile(path, nullptr).open()); // a file pre-flight never read
    }

    void planAsTheDryRunPrintsIt()
    {
        KitPlan plan;
        plan.folders = {{"/F0:/", "KRN3", "/k/target/KRN3", 0}, {"/F0:/KRN3", "SIGNAL", "/k/target/KRN3/SIGNAL", 0}};
        plan.nameFiles = {{1, "KRN3", "/F0:/SYSTEM/MID1", true}, {2, "LPS3", "/F0:/SYSTEM/MID2", false}};
        plan.files = {{"/k/target/KRN3/a", "/F0:/KRN3/a", 1234567, {}, 0, {}, false},
                      {"/k/MainFrame/b", "/F0:/SYSTEM/b", 5, {}, -1, {}, false}};
        plan.totalBytes = 1234572;
        QCOMPARE(FormatPlan(plan), (QStringList{"Folders to make where missing (2):", "  /F0:/KRN3",
                                                "  /F0:/KRN3/SIGNAL", "MID folders and NAME files to write (1):",
                                                "  /F0:/SYSTEM/MID1/NAME (KRN3)", "Files to send (2):",
                                                "  1,234,567  /F0:/KRN3/a", "          5  /F0:/SYSTEM/b",
                                                "Total: 1,234,572 bytes in 2 files"}));
    }
};

QTEST_GUILESS_MAIN(TestKitPreflight)
#include "tst_kitpreflight.moc"

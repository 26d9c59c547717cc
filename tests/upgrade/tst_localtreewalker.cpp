// The one walker's handling of folders that can't be listed to their end.
#include "platform/UnreadableEntry.h"
#include "upgrade/kit/LocalTreeWalker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;

class TestLocalTreeWalker : public QObject
{
    Q_OBJECT

private slots:
    // Without a failure handler the walk stops; with one it hears of the
    // folder and goes on with its siblings. A missing root is an empty tree.
    void unlistableFolderIsNeverAnEmptyOne()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("tree/locked"));
        QVERIFY(QDir(dir.path()).mkpath("tree/open/sub"));
        const UnreadableEntry locked(dir.filePath("tree/locked"));
        if (!locked.usable())
            QSKIP(locked.whyNot());

        QStringList visited;
        LocalTreeWalker bare([&](const WalkItem &item) {
            visited << item.entry.name;
            return WalkStep::Go;
        });
        QVERIFY(!bare.walk(dir.filePath("tree")));
        QVERIFY(bare.walk(dir.filePath("no-such-tree")));

        visited.clear();
        QList<WalkFailure> failures;
        LocalTreeWalker handled([&](const WalkItem &item) {
            visited << item.entry.name;
            return WalkStep::Go;
        }, [&](const WalkFailure &failure) {
            failures << failure;
            return WalkStep::Go;
        });
        QVERIFY(handled.walk(dir.filePath("tree")));
        visited.sort();
        QCOMPARE(visited, (QStringList{"locked", "open", "sub"}));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].localPath, dir.filePath("tree/locked"));
        QCOMPARE(failures[0].depth, 0);
        QCOMPARE(failures[0].reason, QStringLiteral("Permission denied"));
    }

    // A listing that fails after its first entries: the file-descriptor
    // folder of a process that ends while it is being walked.
    void listingThatFailsPartWay()
    {
        QTemporaryDir dir;
        QProcess child;
        child.start("sleep", {"60"});
        QVERIFY(child.waitForStarted());
        QVERIFY(QDir().mkpath(dir.filePath("tree/sub")));
        QVERIFY(QFile::link(QStringLiteral("/proc/%1/fd").arg(child.processId()), dir.filePath("tree/sub/fds")));

        QList<WalkFailure> failures;
        int entriesInFds = 0;
        LocalTreeWalker walker([&](const WalkItem &item) {
            if (item.parentRelative == QLatin1String("sub/fds") && ++entriesInFds == 1) {
                child.kill();
                child.waitForFinished();
            }
            return WalkStep::Go;
        }, [&](const WalkFailure &failure) {
            failures << failure;
            return WalkStep::Stop;
        });
        QVERIFY(!walker.walk(dir.filePath("tree")));
        QVERIFY(entriesInFds >= 1);
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].localPath, dir.filePath("tree/sub/fds"));
        QCOMPARE(failures[0].parentRelative, QStringLiteral("sub"));
        QCOMPARE(failures[0].depth, 1);
        QCOMPARE(failures[0].reason, QStringLiteral("No such file or directory"));
    }
};

QTEST_GUILESS_MAIN(TestLocalTreeWalker)
#include "tst_localtreewalker.moc"

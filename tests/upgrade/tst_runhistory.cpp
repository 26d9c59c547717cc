// The run history: records round trip, parallel runs never mix their lines,
// a history that can't be written is a value, and the table.
#include "upgrade/KitPreflight.h"
#include "upgrade/RunHistory.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace upgrade;

namespace {

RunRecord sampleRecord(const QString &address, const QString &message)
{
    RunRecord r = RunRecord::begin();
    r.address = address;
    r.identity = "ALVO/BRECKMOOR,VX900,SIM0001,1.00";
    r.kitFolder = "/opt/kit/\u00e9t\u00e9/";
    r.modules = {{3, "KRN3", true}, {7, "PRZ53", false}};
    r.freeSpace = qint64(5) << 32;
    r.files = {{"/F0:/KRN3/a", 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                FileOutcome::SentVerified},
               {"/F0:/SYSTEM/b", 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                FileOutcome::SentNotVerifiable},
               {"/F0:/SYSTEM/c", 9, QByteArray(64, 'c'), FileOutcome::Failed},
               {"/F0:/SYSTEM/d", 1, QByteArray(64, 'd'), FileOutcome::NotSent}};
    r.kitDigest = QByteArray(64, 'f');
    r.bytes = 3;
    r.finish("failed", "system files", message);
    return r;
}

// Run as a child: appends `count` records with address `tag`, each
// carrying a long message, so that a record takes many pages to write.
int appendRecords(const QString &file, const QString &tag, int count)
{
    const RunHistory history(file);
    for (int i = 0; i < count; ++i) {
        const QString message = QString::number(i) + QLatin1Char(' ') + QString(100000, QLatin1Char('m'));
        if (history.append(sampleRecord(tag, message)))
            return 1;
    }
    return 0;
}

} // namespace

class TestRunHistory : public QObject
{
    Q_OBJECT

private slots:
    void recordsRoundTripAndFilter()
    {
        QTemporaryDir dir;
        const RunHistory history(dir.filePath("state/vxupgrade/history.jsonl")); // folders made as needed
        QList<RunRecord> written;
        for (const QString address : {"10.0.0.1", "10.0.0.2", "10.0.0.1"}) {
            written << sampleRecord(address, "message " + QString::number(written.size()));
            written.last().dryRun = written.size() == 2;
            QCOMPARE(history.append(written.last()), std::nullopt);
        }
        RunRecord bare; // never asked for free space, no kit
        bare.finish("declined", "low space", QString());
        QCOMPARE(history.append(bare), std::nullopt);

        const RunHistory::Reading all = history.read();
        QCOMPARE(all.unreadableLines, 0);
        QCOMPARE(all.records.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(all.records[i].toJson(), written[i].toJson());
        QVERIFY(!all.records[3].freeSpace);
        QCOMPARE(all.records[0].files[1].outcome, FileOutcome::SentNotVerifiable);

        const RunHistory::Reading one = history.read("10.0.0.1", 1);
        QCOMPARE(one.records.size(), 1);
        QCOMPARE(one.records[0].message, QStringLiteral("message 2"));
        QCOMPARE(history.read("10.0.0.9").records.size(), 0);
        QCOMPARE(RunHistory(dir.filePath("none")).read().records.size(), 0);
    }

    void parallelRunsNeverMixTheirLines()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("history.jsonl");
        const int count = 40;
        QProcess first, second;
        for (QProcess *child : {&first, &second}) {
            const QString tag = child == &first ? "first" : "second";
            child->start(QCoreApplication::applicationFilePath(), {"--append", file, tag, QString::number(count)});
        }
        for (QProcess *child : {&first, &second}) {
            QVERIFY(child->waitForFinished(120000));
            QCOMPARE(child->exitCode(), 0);
        }

        const RunHistory::Reading reading = RunHistory(file).read();
        QCOMPARE(reading.unreadableLines, 0);
        QCOMPARE(reading.records.size(), 2 * count);
        for (const QString tag : {"first", "second"}) {
            const QList<RunRecord> mine = RunHistory(file).read(tag).records;
            QCOMPARE(mine.size(), count);
            for (int i = 0; i < count; ++i)
                QCOMPARE(mine[i].message.section(' ', 0, 0), QString::number(i));
        }
    }

    void historyThatCantBeWrittenIsAValue_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("why");
        QTest::newRow("its folder is a file") << "file/history.jsonl" << "can't make the folder";
        QTest::newRow("the history is a folder") << "folder" << "Is a directory";
    }

    void historyThatCantBeWrittenIsAValue()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const std::optional<QString> error = RunHistory(dir.filePath(relative)).append(sampleRecord("a", "m"));
        QVERIFY(error);
        QVERIFY2(error->startsWith("History not written"), qPrintable(*error));
        QFETCH(QString, why);
        QVERIFY2(error->contains(why), qPrintable(*error));
    }

    void stateFolderFollowsXdg()
    {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/srv/state");
        QCOMPARE(RunHistory::DefaultFile(), QStringLiteral("/srv/state/vxupgrade/history.jsonl"));
        qputenv("XDG_STATE_HOME", "relative/state"); // not absolute: ignored
        QCOMPARE(RunHistory::DefaultFile(), QDir::homePath() + "/.local/state/vxupgrade/history.jsonl");
        qputenv("XDG_STATE_HOME", saved);
    }

    void tableForTheTerminal()
    {
        RunRecord dry = sampleRecord("192.168.0.20", "m");
        dry.dryRun = true;
        dry.outcome = "succeeded";
        dry.started = QDateTime(QDate(2024, 5, 1), QTime(12, 0, 5), Qt::UTC);
        dry.seconds = 3.26;
        const QStringList table = FormatHistoryTable({dry});
        QCOMPARE(table.size(), 2);
        QCOMPARE(table[0].split(' ', Qt::SkipEmptyParts),
                 (QStringList{"TIME", "(UTC)", "INSTRUMENT", "IDENTITY", "KIT", "OUTCOME", "FILES", "DURATION"}));
        QCOMPARE(table[1].split("  ", Qt::SkipEmptyParts),
                 (QStringList{"2024-05-01 12:00:05", "192.168.0.20", "ALVO/BRECKMOOR,VX900,SIM0001,1.00",
                              "ffffffffffff", "succeeded (dry run)", "2/4", "3.3 s"}));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--append") == 0)
        return appendRecords(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    QCoreApplication app(argc, argv);
    TestRunHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_runhistory.moc"

// The run history: records round trip, parallel runs never mix their lines
// or lose one to a rotation, a record never joins a cut-off line, reading
// goes across the rotated files, a history that can't be written is a
// value, and the table.
#include "upgrade/record/HistoryOutcome.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/record/HistoryTable.h"
#include "upgrade/record/RunHistory.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

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

// Small enough that the writers below rotate the history every few records;
// so many files kept that none is let go.
constexpr HistoryLimits BusyLimits{16 * 1024, 1000};

// Run as a child: appends `count` records with address `tag`, each
// numbered in its message.
int appendRecords(const QString &file, const QString &tag, int count)
{
    const RunHistory history(file, BusyLimits);
    for (int i = 0; i < count; ++i) {
        const QString message = QString::number(i).rightJustified(4, '0') + ' ' + QString(2000, 'm');
        if (const std::optional<QString> error = history.append(sampleRecord(tag, message))) {
            qWarning("%s", qPrintable(*error));
            return 1;
        }
    }
    return 0;
}

QStringList messages(const QList<RunRecord> &records)
{
    QStringList texts;
    for (const RunRecord &record : records)
        texts << record.message;
    return texts;
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
        // The last one as an earlier version kept it, as typed; its message
        // names another address as a record would.
        for (const QString address : {"10.0.0.1", "10.0.0.2", "10.0.0.001"}) {
            written << sampleRecord(address, "message " + QString::number(written.size()) + R"( {"address":"10.0.0.2"})");
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
        QCOMPARE(one.records[0].message, QStringLiteral(R"(message 2 {"address":"10.0.0.2"})"));
        QCOMPARE(messages(history.read("010.000.000.01").records).size(), 2);
        QCOMPARE(history.read("10.0.0.2").records.size(), 1);
        QCOMPARE(history.read("10.0.0.9").records.size(), 0);
        QCOMPARE(RunHistory(dir.filePath("none")).read().records.size(), 0);
    }

    // The line written piece by piece is the whole record's document, keys
    // before and after "files" included, and a sink that stops stops it.
    void recordWrittenInPiecesIsItsDocument_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("extras"); // note, reboot, audit, child exit
        QTest::newRow("no files, no extras") << 0 << false;
        QTest::newRow("four files, extras") << 4 << true;
        QTest::newRow("5,000 files: many pieces") << 5000 << true;
    }
    void recordWrittenInPiecesIsItsDocument()
    {
        QFETCH(int, files);
        QFETCH(bool, extras);
        RunRecord record = sampleRecord("10.0.0.1", "with \"quotes\", \u00e9 and \x01");
        while (record.files.size() < files)
            record.files.append({"/F0:/KRN3/f" + QString::number(record.files.size()), 7, QByteArray(64, 'a'),
                                 FileOutcome::AlreadyThere, QDateTime::currentDateTimeUtc()});
        record.files.resize(files);
        if (extras) {
            record.note = "note";
            record.reboot = "confirmed";
            record.childExit = "signal 9";
            record.audit = QJsonObject{{"files", QJsonArray{1, 2}}, {"matches", 2}};
        }
        QList<QByteArray> pieces;
        QVERIFY(record.writeJsonLine([&pieces](QByteArrayView piece) {
            pieces.append(piece.toByteArray());
            return true;
        }));
        QCOMPARE(pieces.join(), QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact));
        QCOMPARE(pieces.size() > 1, files > 1000);
        int calls = 0;
        QCOMPARE(record.writeJsonLine([&calls](QByteArrayView) { return ++calls > 1; }), false);
        QCOMPARE(calls, 1);
    }

    void parallelRunsNeverMixTheirLines()
    {
        // Without the lock, runs that check the size and rotate at the same
        // time rotate twice, or write past the limit into a file another
        // just rotated away.
        QTemporaryDir dir;
        const QString file = dir.filePath("history.jsonl");
        const int writers = 6, count = 25;
        std::vector<std::unique_ptr<QProcess>> children;
        for (int w = 0; w < writers; ++w) {
            children.push_back(std::make_unique<QProcess>());
            children.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            children.back()->start(QCoreApplication::applicationFilePath(),
                                   {"--append", file, "w" + QString::number(w), QString::number(count)});
        }
        for (const auto &child : children) {
            QVERIFY(child->waitForFinished(120000));
            QCOMPARE(child->exitCode(), 0);
        }

        const RunHistory history(file, BusyLimits);
        const RunHistory::Reading reading = history.read();
        QCOMPARE(reading.unreadableLines, 0);
        QCOMPARE(reading.records.size(), writers * count);
        for (int w = 0; w < writers; ++w) {
            const QStringList mine = messages(history.read("w" + QString::number(w)).records);
            QCOMPARE(mine.size(), count);
            for (int i = 0; i < count; ++i)
                QVERIFY2(mine[i].startsWith(QString::number(i).rightJustified(4, '0')), qPrintable(mine[i].left(9)));
        }
        // Every file within the limit, every rotated one full, none missing.
        const qint64 line = sampleRecord("w0", "0000 " + QString(2000, 'm')).toJsonLine().size() + 1;
        int age = 0;
        for (; QFile::exists(RotatedHistoryFile(file, age)); ++age) {
            const qint64 size = QFileInfo(RotatedHistoryFile(file, age)).size();
            QVERIFY2(size <= BusyLimits.maxBytes, qPrintable(QString("file %1: %2 bytes").arg(age).arg(size)));
            if (age > 0)
                QVERIFY2(size + line + 16 > BusyLimits.maxBytes,
                         qPrintable(QString("file %1 rotated at %2 bytes").arg(age).arg(size)));
        }
        QVERIFY(age > 1);
        QVERIFY(!QFile::exists(RotatedHistoryFile(file, age + 1)));
    }

    void recordAfterACutOffLine()
    {
        QTemporaryDir dir;
        const RunHistory history(dir.filePath("history.jsonl"));
        QCOMPARE(history.append(sampleRecord("10.0.0.1", "first")), std::nullopt);
        {
            // What a run stopped mid-write (a crash, a full disk) leaves.
            QFile file(history.fileName());
            QVERIFY(file.open(QIODevice::Append));
            file.write(sampleRecord("10.0.0.1", "cut").toJsonLine().left(300));
        }
        QCOMPARE(history.append(sampleRecord("10.0.0.1", "after")), std::nullopt);
        QCOMPARE(history.append(sampleRecord("10.0.0.1", "last")), std::nullopt);

        const RunHistory::Reading reading = history.read();
        QCOMPARE(messages(reading.records), (QStringList{"first", "after", "last"}));
        QCOMPARE(reading.unreadableLines, 1);
        QFile file(history.fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 4); // no blank line added after a whole one
    }

    // A reader that reads files on demand gets the very records and files
    // the full reading gives, whatever the texts around the files array.
    void filesReadOnDemand()
    {
        QTemporaryDir dir;
        const RunHistory history(dir.filePath("history.jsonl"));
        for (const QString message : {"plain", "\"files\":[{\"x\":1}]", "]}\\\"[{", ""}) {
            RunRecord r = sampleRecord("10.0.0.1", message);
            r.files[0].instrumentPath = "/F0:/KRN3/" + message;
            r.audit = QJsonObject{{"notMatching", QJsonArray{QJsonObject{{"files", QJsonArray{1}}}}}};
            if (message.isEmpty())
                r.files.clear();
            QCOMPARE(history.append(r), std::nullopt);
        }
        {
            // Written by another hand: another time form, keys in another order.
            QFile file(history.fileName());
            QVERIFY(file.open(QIODevice::Append));
            QJsonObject rest = sampleRecord("10.0.0.2", "other").toJson();
            rest.insert("started", "2026-12-10T10:41:07.123+01:00");
            const QJsonArray files = rest.take("files").toArray();
            file.write("{\"files\":" + QJsonDocument(files).toJson(QJsonDocument::Compact) + ","
                       + QJsonDocument(rest).toJson(QJsonDocument::Compact).mid(1) + "\n");
        }
        QList<QJsonObject> full;
        const RunHistory::Visit fully = history.visit([&full](RunRecord &&r) {
            full << r.toJson();
            return true;
        });
        QList<QJsonObject> onDemand;
        const RunHistory::Visit lightly = history.visitFilesOnDemand([&onDemand](VisitedRecord &&v) {
            v.record.files = v.files();
            onDemand << v.record.toJson();
            return true;
        });
        QCOMPARE(fully.records, 5);
        QCOMPARE(lightly.records, fully.records);
        QCOMPARE(lightly.unreadableLines, fully.unreadableLines);
        QCOMPARE(onDemand, full);
        QCOMPARE(full[0].value("started").toString(), QStringLiteral("2026-12-10T09:41:07.123Z"));
    }

    void rotationKeepsWholeRecordsAcrossFiles()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("history.jsonl");
        const qint64 line = sampleRecord("10.0.0.1", "r0").toJsonLine().size() + 1;
        const RunHistory history(file, HistoryLimits{3 * line + line / 2, 2}); // three records a file
        for (int i = 0; i < 10; ++i)
            QCOMPARE(history.append(sampleRecord(i % 2 ? "10.0.0.2" : "10.0.0.1", "r" + QString::number(i))),
                     std::nullopt);
        // r0 to r2 went with the oldest file; r9 alone in the current one.
        QVERIFY(QFile::exists(RotatedHistoryFile(file, 2)));
        QVERIFY(!QFile::exists(RotatedHistoryFile(file, 3)));
        QCOMPARE(RotatedHistoryFile(file, 2), dir.filePath("history.2.jsonl"));
        QCOMPARE(messages(history.read().records), (QStringList{"r3", "r4", "r5", "r6", "r7", "r8", "r9"}));
        QCOMPARE(messages(history.read(QString(), 4).records), (QStringList{"r6", "r7", "r8", "r9"}));
        QCOMPARE(messages(history.read("10.0.0.1", 3).records), (QStringList{"r4", "r6", "r8"}));

        // A record bigger than the limit is never cut: it fills a file alone.
        QCOMPARE(history.append(sampleRecord("10.0.0.3", QString(4 * line, 'b'))), std::nullopt);
        QCOMPARE(history.append(sampleRecord("10.0.0.3", "small")), std::nullopt);
        const RunHistory::Reading reading = history.read("10.0.0.3");
        QCOMPARE(reading.unreadableLines, 0);
        QCOMPARE(reading.records.size(), 2);
        QCOMPARE(reading.records[0].message.size(), 4 * line);
        QCOMPARE(messages(RunHistory(RotatedHistoryFile(file, 1), HistoryLimits{line, 0}).read().records).size(), 1);
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
        QProcessEnvironment environment;
        environment.insert("XDG_STATE_HOME", "/srv/state");
        QCOMPARE(RunHistory::DefaultFile(environment), QStringLiteral("/srv/state/vxupgrade/history.jsonl"));
        environment.insert("XDG_STATE_HOME", "relative/state"); // not absolute: ignored
        QCOMPARE(RunHistory::DefaultFile(environment), QDir::homePath() + "/.local/state/vxupgrade/history.jsonl");
    }

    // A clean audit, one that found files missing, and a run whose restart
    // never came back must not read alike.
    void outcomeColumn_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("audit"); // JSON; empty: no audit
        QTest::addColumn<QString>("reboot");
        QTest::addColumn<QString>("shown");
        const QByteArray found = R"({"counts":{"matches":5,"unknown-origin":0,"differs":2,"missing":1,"extra":0}})";
        QTest::newRow("plain") << "succeeded" << QByteArray() << "" << "succeeded";
        QTest::newRow("audit that found faults") << "succeeded" << found << "" << "audit: 1 missing, 2 differ, 5 match";
        QTest::newRow("clean audit") << "succeeded" << QByteArray(R"({"counts":{"matches":4,"missing":0}})") << ""
                                     << "audit: all 4 match";
        QTest::newRow("audit of a drive not fully read")
            << "succeeded" << QByteArray(R"({"counts":{"matches":3},"problem":"listing refused"})") << ""
            << "audit: 3 match, drive not fully read";
        QTest::newRow("a verdict of a later version") << "succeeded" << QByteArray(R"({"counts":{"size-unknown":2}})")
                                                      << "" << "audit: 2 size-unknown";
        QTest::newRow("stopped audit") << "stopped" << found << "" << "stopped (audit: 1 missing, 2 differ, 5 match)";
        QTest::newRow("failed audit, nothing seen") << "failed" << QByteArray(R"({"counts":{}})") << "" << "failed (audit)";
        QTest::newRow("restart confirmed") << "succeeded" << QByteArray() << "confirmed" << "succeeded, restart confirmed";
        QTest::newRow("restart not confirmed") << "succeeded" << QByteArray()
                                               << "not confirmed: no answer on port 5000 within 300 s"
                                               << "succeeded, restart not confirmed";
    }

    void outcomeColumn()
    {
        QFETCH(QString, outcome);
        QFETCH(QByteArray, audit);
        QFETCH(QString, reboot);
        QFETCH(QString, shown);
        RunRecord record = sampleRecord("10.0.0.1", "m");
        record.outcome = outcome;
        record.audit = QJsonDocument::fromJson(audit).object();
        record.reboot = reboot;
        QCOMPARE(HistoryOutcomeText(record), shown);
        QCOMPARE(FormatHistoryTable({record}).value(1).split("  ", Qt::SkipEmptyParts).value(4), shown);
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
                 (QStringList{"TIME", "(UTC)", "INSTRUMENT", "IDENTITY", "KIT", "OUTCOME", "FILES", "DURATION", "SNAPSHOT"}));
        QCOMPARE(table[1].split(QRegularExpression("\\s{2,}"), Qt::SkipEmptyParts),
                 (QStringList{"2024-05-01 12:00:05", "192.168.0.20", "ALVO/BRECKMOOR,VX900,SIM0001,1.00",
                              "ffffffffffff", "succeeded (dry run)", "2/4", "3.3 s", "-"}));
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

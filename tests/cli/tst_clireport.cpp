// vxupgrade-cli --report: its options, and the ways it ends without a page.
// The page itself is tested in a browser (tests/report).
#include "cli/CliOptions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestCliReport : public QObject
{
    Q_OBJECT

private slots:
    void options()
    {
        const cli::ParsedArguments parsed = cli::parseArguments(
            {"--report", "-", "--history-file", "/a/h.jsonl", "--history-file=/b/h.jsonl", "--since", "2026-12-01"});
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QCOMPARE(*parsed.options.report, QStringLiteral("-"));
        QCOMPARE(parsed.options.historyFiles, (QStringList{"/a/h.jsonl", "/b/h.jsonl"}));
        QCOMPARE(parsed.options.since, QDateTime(QDate(2026, 12, 1), QTime(0, 0), Qt::UTC));
        QCOMPARE(cli::parseArguments({"--report", "x", "--since", "2026-12-01T10:00:00+01:00"}).options.since,
                 QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("since with history") << QStringList{"--history", "--since", "2026-01-01"} << "--history and --since don't go together";
        QTest::newRow("since not a date") << QStringList{"--report", "x", "--since", "yesterday"} << "yesterday";
        QTest::newRow("no file") << QStringList{"--report="} << "--report needs a file name";
        QTest::newRow("with an address") << QStringList{"--report", "x", "--ip", "1.2.3.4"} << "--report and --ip don't go together";
        QTest::newRow("with a run's option") << QStringList{"--report", "x", "--verify"} << "--report and --verify don't go together";
        QTest::newRow("with --history") << QStringList{"--report", "x", "--history"} << "--report and --history don't go together";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const cli::ParsedArguments parsed = cli::parseArguments(arguments);
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.error.contains(named), qPrintable(parsed.error));
    }

    // A history named but missing, or a page that can't be written, fails
    // with its reason, and leaves no page (nor a part of one).
    void endsWithoutAPage_data()
    {
        QTest::addColumn<QString>("history"); // relative to the scratch folder
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("message");
        QTest::newRow("history missing") << "missing.jsonl" << "fleet.html" << "no history at";
        QTest::newRow("page's folder missing") << "h.jsonl" << "no/such/fleet.html" << "can't write the report";
    }

    void endsWithoutAPage()
    {
        QFETCH(QString, history);
        QFETCH(QString, page);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QFile existing(dir.filePath("h.jsonl"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("not a record\n");
        existing.close();
        QProcess process;
        process.start(QStringLiteral(VX_CLI_PROGRAM),
                      {"--report", dir.filePath(page), "--history-file", dir.filePath(history)});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(process.readAllStandardError().contains(message.toUtf8()), qPrintable(message));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"h.jsonl"});
    }
};

QTEST_GUILESS_MAIN(TestCliReport)
#include "tst_clireport.moc"

// vxupgrade-cli's fleet run as a program: four simulated instruments on
// their own loopback addresses (all on the same two ports), each run in a
// child process of the fleet; the end table, the records, the exit status,
// a stop in the middle, a child killed mid-run (on record all the same), and
// the usage errors of the address list.
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonDocument>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 180000;

struct Fleet
{
    std::vector<std::unique_ptr<SimInstrument>> sims;
    QStringList addresses;

    // Simulators on 127.0.0.2, 127.0.0.3, ...: the first picks the ports,
    // the others share them, as real instruments all answer on 5000 and 21.
    [[nodiscard]] bool start(const QList<QStringList> &options)
    {
        QString error;
        sims = StartSharingPorts(options, error);
        if (sims.empty()) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        for (qsizetype i = 0; i < options.size(); ++i)
            addresses << "--ip" << QStringLiteral("127.0.0.%1").arg(i + 2);
        return true;
    }

    void setUp(QProcess &process, const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VX900_CMD_PORT", QString::number(sims[0]->cmdPort()));
        environment.insert("VX900_FTP_PORT", QString::number(sims[0]->ftpPort()));
        process.setProcessEnvironment(environment);
        process.setProgram(Program);
        process.setArguments(addresses + arguments);
    }
};

void writeKit(ProgramFolder &folder)
{
    // LPS3's signals ticked: little free space makes the run ask first.
    folder.writeIni({{5, QStringLiteral("LPS3"), 0}});
    folder.write(QStringLiteral("target/LPS3/lps3.bin"), sampleBytes(70000, 1));
    folder.write(QStringLiteral("target/LPS3/SIGNAL/s2.wfm"), sampleBytes(3000, 2));
    folder.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(120000, 3));
}

// The child of `parent` whose command line holds `argument`, from /proc;
// 0 when there is none.
pid_t childOf(pid_t parent, const QByteArray &argument)
{
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and brackets.
        const QByteArray line = stat.read(4096);
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields[1].toInt() != parent)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (commandLine.open(QIODevice::ReadOnly | QIODevice::Unbuffered)
            && commandLine.read(65536).split('\0').contains(argument))
            return pid;
    }
    return 0;
}

} // namespace

class TestCliFleet : public QObject
{
    Q_OBJECT

private slots:
    void fourInstrumentsEndInOneTable()
    {
        Fleet fleet;
        QVERIFY(fleet.start({{}, {}, {"--stor-refuse", "550"}, {"--free", "1000"}}));
        ProgramFolder folder;
        writeKit(folder);

        QProcess process;
        fleet.setUp(process, {"--dir", folder.path(), "--signals", "LPS3", "--json"});
        process.start();
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 1, qPrintable(err));

        // --json: standard output holds one record per instrument, nothing else.
        QMap<QString, QJsonObject> records;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            QVERIFY2(!record.isEmpty(), line.constData());
            records[record["address"].toString()] = record;
        }
        const QMap<QString, QString> expected{{"127.0.0.2", "succeeded"}, {"127.0.0.3", "succeeded"},
                                              {"127.0.0.4", "failed"}, {"127.0.0.5", "declined"}};
        QCOMPARE(records.keys(), expected.keys());
        for (const QString &address : expected.keys()) {
            QCOMPARE(records[address]["outcome"].toString(), expected[address]);
            // The table's row: the address, then its outcome, on one line.
            const QRegularExpression row("^" + QRegularExpression::escape(address) + "\\b.*\\b"
                                             + expected[address] + "\\b",
                                         QRegularExpression::MultilineOption);
            QVERIFY2(row.match(err).hasMatch(), qPrintable(address + " has no row in:\n" + err));
            // FILES counts the record's files sent, as --history does: no NAME file.
            const QJsonArray files = records[address]["files"].toArray();
            const auto sent = std::count_if(files.begin(), files.end(), [](const QJsonValue &file) {
                return file["outcome"].toString().startsWith("sent-");
            });
            const QRegularExpression filesColumn("^" + QRegularExpression::escape(address) + "\\s+\\S+\\s+"
                                                     + expected[address] + "\\s+" + QString::number(sent) + "\\s",
                                                 QRegularExpression::MultilineOption);
            QVERIFY2(filesColumn.match(err).hasMatch(), qPrintable(address + ": not " + QString::number(sent) + " in:\n" + err));
        }
        QVERIFY(records["127.0.0.2"]["identity"].toString().contains("VX900"));
        QCOMPARE(records["127.0.0.2"]["bytes"].toInteger(), 70000 + 3000 + 120000);

        for (int healthy : {0, 1}) {
            const SimInstrument &sim = *fleet.sims[healthy];
            for (const auto &[instrument, local] : {std::pair{"LPS3/lps3.bin", "target/LPS3/lps3.bin"},
                                                   std::pair{"LPS3/SIGNAL/s2.wfm", "target/LPS3/SIGNAL/s2.wfm"},
                                                   std::pair{"SYSTEM/vx900.bin", "MainFrame/vx900.bin"}}) {
                QFile source(folder.path() + local);
                QVERIFY(source.open(QIODevice::ReadOnly));
                QVERIFY2(sim.file(QStringLiteral("/F0:/") + instrument) == source.readAll(), instrument);
            }
        }
        // Asked the low-space question, it was answered No and got nothing.
        QVERIFY(fleet.sims[3]->file("/F0:/SYSTEM/vx900.bin").isEmpty());
    }

    void aSignalStopsEveryChildAndPrintsTheTable()
    {
        Fleet fleet;
        // Slow enough that the signal finds every run under way.
        QVERIFY(fleet.start({{"--latency", "40"}, {"--latency", "40"}}));
        ProgramFolder folder;
        writeKit(folder);

        QProcess process;
        fleet.setUp(process, {"--dir", folder.path(), "--yes"});
        process.start();
        QVERIFY(process.waitForStarted());
        // Off a terminal each memo line comes once, prefixed with its address.
        QByteArray out;
        while (!(out.contains("[127.0.0.2] ") && out.contains("[127.0.0.3] ")) && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        QVERIFY2(out.contains("[127.0.0.3] "), out.constData());
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        out += process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        for (const char *address : {"127.0.0.2", "127.0.0.3"}) {
            const QRegularExpression row(QStringLiteral("^%1\\b.*\\bstopped\\b").arg(QRegularExpression::escape(address)),
                                         QRegularExpression::MultilineOption);
            QVERIFY2(row.match(QString::fromUtf8(out)).hasMatch(), out.constData());
        }
    }

    void aChildKilledMidRunIsOnRecord()
    {
        Fleet fleet;
        QVERIFY(fleet.start({{"--latency", "40"}, {}}));
        ProgramFolder folder;
        writeKit(folder);
        for (int i = 0; i < 8; ++i) // files enough that the kill finds the run under way
            folder.write(QStringLiteral("MainFrame/more%1.bin").arg(i), sampleBytes(1000, 10 + i));
        QTemporaryDir state;
        QProcess process;
        fleet.setUp(process, {"--dir", folder.path(), "--yes"});
        QProcessEnvironment environment = process.processEnvironment();
        environment.insert("XDG_STATE_HOME", state.path());
        process.setProcessEnvironment(environment);
        process.start();
        QVERIFY(process.waitForStarted());
        // Past its first file: the slow one's child has told its identity
        // and a file.
        QByteArray out;
        while (out.count("[127.0.0.2] Copying... ") < 2 && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        QVERIFY2(out.count("[127.0.0.2] Copying... ") >= 2, out.constData());
        const pid_t child = childOf(pid_t(process.processId()), "127.0.0.2");
        QVERIFY(child > 0); // never 0, which would kill our own group
        QCOMPARE(::kill(child, SIGKILL), 0);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        QCOMPARE(process.exitCode(), 1);

        QFile history(state.filePath("vxupgrade/history.jsonl"));
        QVERIFY(history.open(QIODevice::ReadOnly));
        QMap<QString, QJsonObject> records;
        for (const QByteArray &line : history.readAll().trimmed().split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            records[record["address"].toString()] = record;
        }
        QCOMPARE(records.keys(), (QStringList{"127.0.0.2", "127.0.0.3"}));
        QCOMPARE(records["127.0.0.3"]["outcome"].toString(), QStringLiteral("succeeded"));
        const QJsonObject &record = records["127.0.0.2"];
        const QByteArray text = QJsonDocument(record).toJson();
        QCOMPARE(record["outcome"].toString(), QStringLiteral("crashed"));
        QCOMPARE(record["childExit"].toString(), QStringLiteral("signal 9"));
        QVERIFY2(record["identity"].toString().contains("VX900"), text.constData());
        QVERIFY2(!record["files"].toArray().isEmpty(), text.constData());
    }

    void addressListErrorsAreUsageErrors_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("malformed line") << QByteArray("# lab 3\n127.0.0.2\n\n127.0.0.3  # rack B\n10.0.0.x\n")
                                        << QStringList{} << ":5: \"10.0.0.x\" is not";
        QTest::newRow("same address twice") << QByteArray() << QStringList{"--ip", "127.0.0.2", "--ip", "127.0.0.02"}
                                            << "127.0.0.2 is already given";
        QTest::newRow("file repeats an --ip") << QByteArray("127.0.0.2\n") << QStringList{"--ip", "127.0.0.2"}
                                              << ":1: 127.0.0.2 is already given (--ip)";
    }

    void addressListErrorsAreUsageErrors()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QTemporaryDir dir;
        if (!file.isEmpty()) {
            QFile list(dir.filePath("lab.txt"));
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write(file);
            list.close();
            arguments << "--ip-file" << list.fileName();
        }
        QProcess process;
        process.start(Program, arguments);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 2);
        QVERIFY2(err.contains(error), qPrintable(err));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliFleet)
#include "tst_clifleet.moc"

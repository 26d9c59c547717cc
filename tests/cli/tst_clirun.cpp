// vxupgrade-cli as a program: its exit statuses, the answers to the
// low-space question, what it prints, and what it leaves on the instrument
// (the simulator, with the run's fixtures).
#include "TerminalProcess.h"
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;

const QString Success = QStringLiteral("[information box] VX900 Upgrade\n  Copy successfully completed !\n\n  Please reboot the VX900.\n");
const QString LowSpaceQuestion = QStringLiteral("[question box] VX900 Upgrade\n  There is not enough space to upgrade VX900.\n");

struct Finished
{
    int status = -1;
    QStringList out; // lines
    QString err;
};

// The test's own environment with the bench settings that point the link at
// `ports`.
QProcessEnvironment benchEnvironment(const InstrumentPorts &ports)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VX900_CMD_PORT"), QString::number(ports.command));
    environment.insert(QStringLiteral("VX900_FTP_PORT"), QString::number(ports.ftp));
    return environment;
}

Finished runCli(const QStringList &arguments, const QProcessEnvironment &environment,
                const QString &program = Program)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished result;
    if (!process.waitForStarted(RunTimeoutMs))
        return result;
    process.closeWriteChannel(); // standard input: a pipe at its end, no terminal
    if (!process.waitForFinished(RunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.status = process.exitCode();
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    result.out = out.isEmpty() ? QStringList() : out.chopped(out.endsWith(u'\n') ? 1 : 0).split(u'\n');
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Two catalogued modules with SIGNAL folders and a few system files.
void writeTwoModules(ProgramFolder &folder)
{
    folder.writeIni({{3, QStringLiteral("KRN3"), 0}, {5, QStringLiteral("LPS3"), 0}});
    folder.write(QStringLiteral("target/KRN3/krn3.bin"), sampleBytes(70000, 1));
    folder.write(QStringLiteral("target/KRN3/sub/deep/x.bin"), sampleBytes(65537, 2));
    folder.write(QStringLiteral("target/KRN3/SIGNAL/s1.wfm"), sampleBytes(3000, 3));
    folder.write(QStringLiteral("target/LPS3/lps3.bin"), sampleBytes(0, 4));
    folder.write(QStringLiteral("target/LPS3/SIGNAL/s2.wfm"), sampleBytes(5000, 5));
    folder.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(120000, 6));
    folder.write(QStringLiteral("MainFrame/FONTS/fixed.fnt"), sampleBytes(1000, 7));
}

// The drive holds exactly `expected` (below "/F0:/"), each a copy of its
// fixture file, plus the NAME files given.
void verifyDrive(const SimInstrument &sim, const ProgramFolder &folder, QStringList expected,
                 const QMap<QString, QByteArray> &nameFiles)
{
    for (auto it = nameFiles.begin(); it != nameFiles.end(); ++it)
        expected << it.key();
    expected.sort();
    QCOMPARE(sim.files(), expected);
    for (const QString &file : expected) {
        if (nameFiles.contains(file)) {
            QCOMPARE(sim.file(QStringLiteral("/F0:/") + file), nameFiles[file]);
            continue;
        }
        QFile source(folder.path() + sourceOf(file));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY2(sim.file(QStringLiteral("/F0:/") + file) == source.readAll(), qPrintable(file));
    }
}

quint16 portNobodyListensOn()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    return server.serverPort(); // closed again when `server` goes
}

} // namespace

class TestCliRun : public QObject
{
    Q_OBJECT

private slots:
    // A dry run prints the plan and writes nothing; it and the run after it
    // are on record, which --history reads back.
    void dryRunWritesNothingAndIsOnRecord()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        QTemporaryDir state;
        QProcessEnvironment environment = benchEnvironment(sim.ports());
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());

        const Finished dry = runCli({"--ip", "127.0.0.1", "--dir", folder.path(), "--dry-run"}, environment);
        QCOMPARE(dry.status, 0);
        QVERIFY2(dry.out.filter("/F0:/SYSTEM/vx900.bin").size() == 1, qPrintable(dry.out.join('\n')));
        QVERIFY(sim.sent("ftp").filter("STOR ").isEmpty());
        QVERIFY(sim.sent("cmd").filter("MDIR").isEmpty());

        const Finished real = runCli({"--ip", "127.0.0.1", "--dir", folder.path(), "--json"}, environment);
        QCOMPARE(real.status, 0);
        QCOMPARE(real.out.size(), 1); // the record alone; the memo went to standard error
        QVERIFY(real.err.contains("Copy completed!"));
        QCOMPARE(QJsonDocument::fromJson(real.out.first().toUtf8()).object().value("outcome").toString(),
                 QString("succeeded"));

        const Finished history = runCli({"--history", "--ip", "127.0.0.1", "--json"}, environment);
        QCOMPARE(history.status, 0);
        QCOMPARE(history.out.size(), 2);
        QCOMPARE(history.out.last(), real.out.first());
        QVERIFY(QJsonDocument::fromJson(history.out.first().toUtf8()).object().contains("dryRun"));
    }

    // A leading 0 once meant octal: "--ip 127.0.0.010" upgraded 127.0.0.8.
    // With an instrument there and none at 127.0.0.10, the run must fail to
    // connect without a word to it, and go on record as 127.0.0.10, which
    // --history finds under any spelling.
    void zeroPaddedAddressIsReadAsDecimal()
    {
        SimInstrument decoy({"--host", "127.0.0.8"});
        QVERIFY2(decoy.start(), qPrintable(decoy.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        QTemporaryDir state;
        QProcessEnvironment environment = benchEnvironment(decoy.ports());
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());

        const Finished run = runCli({"--ip", "127.0.0.010", "--dir", folder.path(), "--yes"}, environment);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("Can't connect VX900."), qPrintable(run.err));
        QVERIFY(decoy.lines("cmd", "event").isEmpty() && decoy.lines("ftp", "event").isEmpty());
        QVERIFY(decoy.files().isEmpty());

        for (const QString spelling : {"127.0.0.10", "127.000.000.010"}) {
            const Finished history = runCli({"--history", "--ip", spelling, "--json"}, environment);
            QCOMPARE(history.status, 0);
            QCOMPARE(history.out.size(), 1);
            QCOMPARE(QJsonDocument::fromJson(history.out.first().toUtf8()).object().value("address").toString(),
                     QString("127.0.0.10"));
        }
        QCOMPARE(runCli({"--history", "--ip", "127.0.0.8", "--json"}, environment).out, QStringList());
    }

    // A mistyped --history-file is said, not shown as a history without runs.
    void namedHistoryThatIsMissing()
    {
        QTemporaryDir state;
        const QString path = state.filePath("histroy.jsonl");
        const Finished shown = runCli({"--history", "--history-file", path}, QProcessEnvironment::systemEnvironment());
        QCOMPARE(shown.status, 1);
        QCOMPARE(shown.out, QStringList());
        QCOMPARE(shown.err, QStringLiteral("vxupgrade-cli: %1: no such history file\n").arg(path));
    }

    // A dry run ends as the run would, up to its first write: a question
    // that --no or the missing terminal declines is exit 3, a folder the
    // run would fail on is exit 1; never a write.
    void dryRunEndsAsTheRunWould_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("systemFilesOnly");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errFragment");

        const QStringList lps3{"--signals", "LPS3"};
        QTest::newRow("low space, --no") << QStringList{"--free", "4718591"} << lps3 + QStringList{"--no"} << false
                                         << 3 << "answered No (--no)";
        QTest::newRow("low space, no terminal")
            << QStringList{"--free", "4718591"} << lps3 << false << 3 << "there is no terminal to ask on";
        QTest::newRow("low space, --yes") << QStringList{"--free", "4718591"} << lps3 + QStringList{"--yes"} << false
                                          << 0 << "answered Yes (--yes)";
        QTest::newRow("kit beyond the free space, no terminal")
            << QStringList{"--free", "100000"} << QStringList{} << false << 3 << "The upgrade needs 256537 bytes";
        QTest::newRow("no SYSTEM folder for the NAME files")
            << QStringList{"--no-system"} << QStringList{} << false << 1 << "Fail to make MID files !";
        QTest::newRow("no SYSTEM folder for the system files")
            << QStringList{"--no-system"} << QStringList{} << true << 1 << "Fail to download F/W !";
        QTest::newRow("system files only") << QStringList{} << QStringList{} << true << 0 << "";
    }

    void dryRunEndsAsTheRunWould()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, arguments);
        QFETCH(bool, systemFilesOnly);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        if (systemFilesOnly)
            folder.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(1000, 1));
        else
            writeTwoModules(folder);

        const Finished dry = runCli(QStringList{"--ip", "127.0.0.1", "--dir", folder.path(), "--dry-run"} + arguments,
                                    benchEnvironment(sim.ports()));
        QTEST(dry.status, "status");
        QFETCH(QString, errFragment);
        QVERIFY2(dry.err.contains(errFragment), qPrintable(dry.err));
        QVERIFY(sim.sent("ftp").filter("STOR ").isEmpty());
        QVERIFY(sim.sent("cmd").filter("MDIR").isEmpty());
    }

    // A fleet's child tells the identity as soon as it has read it, so that
    // a child killed later still shows which instrument it was on.
    void fleetChildTellsTheIdentityBeforeTheChecks()
    {
        SimInstrument sim({"--latency", "20"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        QProcess child;
        child.setProcessEnvironment(benchEnvironment(sim.ports()));
        child.start(Program, {"--fleet-child", "--ip", "127.0.0.1", "--dir", folder.path(), "--yes"});
        QVERIFY(child.waitForStarted(RunTimeoutMs));
        QByteArray out;
        // Plain literals: moc miscounts braces inside raw strings.
        const QByteArray checking = "{\"step\":{\"name\":\"checking\"}}";
        while (!out.contains(checking) && child.waitForReadyRead(RunTimeoutMs))
            out += child.readAllStandardOutput();
        child.kill();
        QVERIFY(child.waitForFinished(RunTimeoutMs));
        const qsizetype identity = out.indexOf("{\"identity\":\"ALVO/BRECKMOOR,VX900,");
        QVERIFY2(identity >= 0 && identity < out.indexOf(checking), out.constData());
    }

    void successPrintsTheMemoAndExitsZero()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);

        const Finished run = runCli({"--ip", "127.0.0.1", "--signals", "KRN3", "--dir", folder.path()},
                                    benchEnvironment(sim.ports()));
        QCOMPARE(run.status, 0);
        // Every memo line, in the run's order, and nothing else.
        const QStringList expected{
            "Connecting VX900 ...", "Copying ALL modules ...", "** KRN3",
            "Copying... krn3.bin", "Copying... s1.wfm", "Copying... x.bin",
            "** LPS3", "Copying... lps3.bin", "", "Copying System files ...",
            "Copying... fixed.fnt", "Copying... vx900.bin",
            "Verified each folder by the FTP server's listing (MLSD).", "Copy completed!"};
        QCOMPARE(withCopyRunsSorted(run.out), expected);
        // The one box, and no progress line off a terminal.
        QCOMPARE(run.err, Success);

        verifyDrive(sim, folder,
                    {"KRN3/krn3.bin", "KRN3/sub/deep/x.bin", "KRN3/SIGNAL/s1.wfm", "LPS3/lps3.bin",
                     "SYSTEM/vx900.bin", "SYSTEM/FONTS/fixed.fnt"},
                    {{"SYSTEM/MID3/NAME", "KRN3\r\n"}, {"SYSTEM/MID5/NAME", "LPS3\r\n"}});
        // The link was closed at the end, as the window closes it.
        QCOMPARE(sim.sent(QStringLiteral("ftp")).last(), QStringLiteral("QUIT"));
    }

    // Everything stored and verified, only QUIT refused: the instrument is
    // upgraded, so the run is, with its note as one line.
    void quitRefusedAfterACompleteUploadExitsZero()
    {
        SimInstrument sim({"--quit-reply", "550"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        const Finished run = runCli({"--ip", "127.0.0.1", "--dir", folder.path()}, benchEnvironment(sim.ports()));
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.filter("did not close the connection cleanly").size(), 1);
        QCOMPARE(run.out.last(), run.out.filter("did not close the connection cleanly").first());
        QVERIFY2(run.err.endsWith(Success), qPrintable(run.err));
    }

    // Without --dir the program reads the folder it lies in, as the window does.
    void readsItsOwnFolder()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        const QString copy = folder.path() + QStringLiteral("vxupgrade-cli");
        QVERIFY(QFile::copy(Program, copy));
        QVERIFY(QFile::setPermissions(copy, QFile::permissions(Program)));

        const Finished run = runCli({"--ip", "127.0.0.1", "--signals", "LPS3"}, benchEnvironment(sim.ports()), copy);
        QCOMPARE(run.status, 0);
        QVERIFY(sim.files().contains(QStringLiteral("LPS3/SIGNAL/s2.wfm")));
        QVERIFY(!sim.files().contains(QStringLiteral("KRN3/SIGNAL/s1.wfm")));
    }

    void failuresExitOne_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("deadPort");     // the command channel port has no listener
        QTest::addColumn<QStringList>("boxes"); // texts of the error boxes, in order
        QTest::addColumn<QString>("lastMemoLine");
        const QString damaged = QStringLiteral("VX900's File System was damaged!");
        const QString midFailed = QStringLiteral("Fail to make MID files !\n\nVX900 file system might be full.");
        QTest::newRow("nobody at the address") << QStringList{} << true << QStringList{} << "Connecting VX900 ...";
        QTest::newRow("not a VX900") << QStringList{"--idn", "ACME,SG100,1,1.0"} << false << QStringList{} << "Connecting VX900 ...";
        QTest::newRow("drive refused") << QStringList{"--refuse-root"} << false << QStringList{damaged} << "Connecting VX900 ...";
        QTest::newRow("MID folder cannot be made") << QStringList{"--mdir-fail-after", "0"} << false << QStringList{midFailed}
                                                   << "Connecting VX900 ...";
        // The refusal raises an FTP error that leaves the run: the window
        // shows it in a box too, and stays open; the program must still end.
        QTest::newRow("STOR refused mid-run") << QStringList{"--stor-refuse", "553@4"} << false
                                              << QStringList{"Upload failed"} << "Copying... ";
    }

    void failuresExitOne()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, deadPort);
        QFETCH(QStringList, boxes);
        QFETCH(QString, lastMemoLine);

        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        InstrumentPorts ports = sim.ports();
        if (deadPort) {
            ports.command = portNobodyListensOn();
            QVERIFY(ports.command != 0);
        }
        ProgramFolder folder;
        writeTwoModules(folder);

        const Finished run = runCli({"--ip", "127.0.0.1", "--dir", folder.path()}, benchEnvironment(ports));
        QCOMPARE(run.status, 1);
        QVERIFY(!run.out.isEmpty());
        QCOMPARE(run.out.first(), QStringLiteral("Connecting VX900 ..."));
        QVERIFY2(run.out.last().startsWith(lastMemoLine), qPrintable(run.out.join(u'\n')));
        QVERIFY2(run.err.startsWith(QStringLiteral("[error box] ")), qPrintable(run.err));
        for (const QString &text : boxes) {
            QString indented = text;
            indented.replace(QStringLiteral("\n\n"), QStringLiteral("\n\n  "));
            QVERIFY2(run.err.contains(QStringLiteral("\n  ") + indented + u'\n'), qPrintable(run.err));
        }
        QVERIFY(!run.err.contains(QStringLiteral("Copy successfully completed")));
    }

    void lowSpaceQuestion_data()
    {
        QTest::addColumn<QString>("free");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("answerNote"); // empty: no question at all
        QTest::addColumn<bool>("krn3Signals");   // KRN3's SIGNAL folder reached the drive
        QTest::newRow("--no") << "4718591" << QStringList{"--signals", "LPS3", "--no"} << 3 << "  answered No (--no)\n" << false;
        QTest::newRow("no answer, no terminal") << "4718591" << QStringList{"--signals", "LPS3"} << 3
                                                << "  answered No: there is no terminal to ask on" << false;
        // Yes locks and ticks KRN3, although it was not named.
        QTest::newRow("--yes") << "4718591" << QStringList{"--signals", "LPS3", "--yes"} << 0 << "  answered Yes (--yes)\n" << true;
        QTest::newRow("low, but neither QMX53 nor LPS3 ticked") << "4718591" << QStringList{"--signals", "KRN3", "--no"} << 0
                                                                 << "" << true;
        QTest::newRow("exactly 4718592 free") << "4718592" << QStringList{"--signals", "LPS3", "--no"} << 0 << "" << false;
    }

    void lowSpaceQuestion()
    {
        QFETCH(QString, free);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, answerNote);
        QFETCH(bool, krn3Signals);

        SimInstrument sim({"--free", free});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);

        const Finished run =
            runCli(QStringList{"--ip", "127.0.0.1", "--dir", folder.path()} + arguments, benchEnvironment(sim.ports()));
        QCOMPARE(run.status, status);
        if (answerNote.isEmpty()) {
            QVERIFY2(!run.err.contains(QStringLiteral("[question box]")), qPrintable(run.err));
        } else {
            QVERIFY2(run.err.startsWith(LowSpaceQuestion), qPrintable(run.err));
            QVERIFY2(run.err.contains(answerNote), qPrintable(run.err));
        }
        if (status == 3) {
            // Declined: the link closed, nothing written, not even a NAME file.
            QCOMPARE(run.out, QStringList{"Connecting VX900 ..."});
            QCOMPARE(sim.files(), QStringList());
            QCOMPARE(sim.sent(QStringLiteral("ftp")).last(), QStringLiteral("QUIT"));
        } else {
            QCOMPARE(run.out.last(), QStringLiteral("Copy completed!"));
            QVERIFY2(run.err.endsWith(Success), qPrintable(run.err));
        }
        QCOMPARE(sim.files().contains(QStringLiteral("KRN3/SIGNAL/s1.wfm")), krn3Signals);
    }

    void usageErrorsExitTwoAndTouchNothing_data()
    {
        QTest::addColumn<QStringList>("arguments"); // "DIR" stands for the fixture's folder
        QTest::addColumn<QString>("message");
        QTest::newRow("no address") << QStringList{"--dir", "DIR"} << "--ip ADDRESS is required";
        QTest::newRow("unknown option") << QStringList{"--ip", "127.0.0.1", "--fast"} << "unknown argument \"--fast\"";
        QTest::newRow("both answers") << QStringList{"--ip", "127.0.0.1", "--yes", "--no"} << "--yes";
        QTest::newRow("no such folder") << QStringList{"--ip", "127.0.0.1", "--dir", "DIR/none"} << "--dir: no folder";
        QTest::newRow("module not in the catalogue") << QStringList{"--ip", "127.0.0.1", "--dir", "DIR", "--signals", "SBX3"}
                                                     << "the box of SBX3 is disabled";
        QTest::newRow("module without a SIGNAL folder") << QStringList{"--ip", "127.0.0.1", "--dir", "DIR", "--signals", "KRN3,QMX53"}
                                                        << "the box of QMX53 is disabled";
    }

    void usageErrorsExitTwoAndTouchNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);

        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);
        folder.writeIni({{3, QStringLiteral("KRN3"), 0}, {5, QStringLiteral("LPS3"), 0}, {7, QStringLiteral("QMX53"), 0}});
        folder.write(QStringLiteral("target/QMX53/q.bin"), "q");
        for (QString &argument : arguments)
            argument.replace(QStringLiteral("DIR"), folder.path());

        const Finished run = runCli(arguments, benchEnvironment(sim.ports()));
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out, QStringList());
        QVERIFY2(run.err.startsWith(QStringLiteral("vxupgrade-cli: ")), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(sim.sent(QStringLiteral("cmd")), QStringList());
    }

    void helpGoesToStandardOutput()
    {
        const Finished run = runCli({"--help"}, QProcessEnvironment::systemEnvironment());
        QCOMPARE(run.status, 0);
        QVERIFY(!run.out.isEmpty());
        QVERIFY(run.out.first().startsWith(QStringLiteral("Usage: vxupgrade-cli --ip ADDRESS")));
        QCOMPARE(run.err, QString());
    }

    void questionAskedOnTheTerminal_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<int>("status");
        QTest::newRow("y") << QByteArray("y\n") << 0;
        QTest::newRow("n") << QByteArray("n\n") << 3;
        QTest::newRow("something else, then yes") << QByteArray("perhaps\nyes\n") << 0;
    }

    void questionAskedOnTheTerminal()
    {
        QFETCH(QByteArray, typed);
        QFETCH(int, status);

        SimInstrument sim({"--free", "4718591"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);

        TerminalProcess terminal;
        QVERIFY(terminal.start(Program, {"--ip", "127.0.0.1", "--dir", folder.path(), "--signals", "LPS3"},
                               benchEnvironment(sim.ports()).toStringList()));
        QVERIFY2(terminal.waitForOutput("Yes or No? [y/n] ", RunTimeoutMs), terminal.output().constData());
        terminal.write(typed);
        QCOMPARE(terminal.waitForFinished(RunTimeoutMs), status);

        const QByteArray shown = terminal.output();
        if (status == 0) {
            // The live progress line was drawn, and wiped before the box.
            QVERIFY2(shown.contains("\r\x1b[K100%  "), shown.constData());
            QVERIFY2(shown.contains(" left\r\x1b[K"), shown.constData());
            QVERIFY(shown.contains("Copy completed!"));
        } else {
            QVERIFY(!shown.contains("%  "));
            QCOMPARE(sim.files(), QStringList());
        }
    }

    // SIGTERM (or Ctrl-C) stops a run as closing the window does: at the next
    // wait, with the link closed, and the program ends reporting a failure.
    // The stopped run is on record too.
    void signalStopsTheRun()
    {
        SimInstrument sim({"--reply-delay", "0.05"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeTwoModules(folder);

        QTemporaryDir state;
        QProcessEnvironment environment = benchEnvironment(sim.ports());
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(Program, {"--ip", "127.0.0.1", "--dir", folder.path()});
        QVERIFY(process.waitForStarted(RunTimeoutMs));
        QByteArray out;
        while (!out.contains("** KRN3") && process.waitForReadyRead(RunTimeoutMs))
            out += process.readAllStandardOutput();
        QVERIFY2(out.contains("** KRN3"), out.constData());
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        out += process.readAllStandardOutput();
        QVERIFY(!out.contains("Copy completed!"));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("vxupgrade-cli: stopped")), qPrintable(err));
        QVERIFY(!err.contains(QStringLiteral("[information box]")));
        QCOMPARE(sim.sent(QStringLiteral("ftp")).last(), QStringLiteral("QUIT"));

        const Finished history = runCli({"--history", "--json"}, environment);
        QCOMPARE(history.out.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(history.out.first().toUtf8()).object().value("outcome").toString(),
                 QString("stopped"));
    }
};

QTEST_GUILESS_MAIN(TestCliRun)
#include "tst_clirun.moc"

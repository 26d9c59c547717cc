// vxupgrade-cli --await-reboot against the simulator's restart: what the
// wait concludes, its exit status, the record (printed and in the history),
// a stop in the middle of the wait, and the fleet's restart column.
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;
const QString Idn = QStringLiteral("ALVO/BRECKMOOR,VX900,SIM0001,1.00");

void writeKit(ProgramFolder &folder)
{
    folder.writeIni({{3, QStringLiteral("KRN3"), 0}, {5, QStringLiteral("LPS3"), 0}});
    folder.write(QStringLiteral("target/KRN3/krn3.bin"), sampleBytes(7000, 1));
    folder.write(QStringLiteral("target/LPS3/lps3.bin"), sampleBytes(300, 2));
    folder.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(12000, 3));
}

void setUp(QProcess &process, const SimInstrument &sim, const QTemporaryDir &state)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VX900_CMD_PORT"), QString::number(sim.cmdPort()));
    environment.insert(QStringLiteral("VX900_FTP_PORT"), QString::number(sim.ftpPort()));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    process.setProcessEnvironment(environment);
    process.setProgram(Program);
}

QJsonObject onlyHistoryRecord(const QTemporaryDir &state)
{
    QFile history(state.filePath(QStringLiteral("vxupgrade/history.jsonl")));
    if (!history.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = history.readAll().trimmed().split('\n');
    return lines.size() == 1 ? QJsonDocument::fromJson(lines.first()).object() : QJsonObject{};
}

} // namespace

class TestCliReboot : public QObject
{
    Q_OBJECT

private slots:
    void waitConcludes_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("reboot");
        const QStringList restart{"--restart-after-quit", "0.3", "--restart-down", "0.5"};
        QTest::newRow("confirmed") << restart << 0 << "confirmed";
        QTest::newRow("new firmware, same instrument")
            << restart + QStringList{"--restart-idn", "ALVO/BRECKMOOR,VX900,SIM0001,2.00"} << 0 << "confirmed";
        QTest::newRow("another serial")
            << restart + QStringList{"--restart-idn", "ALVO/BRECKMOOR,VX900,SIM0002,2.00"} << 5
            << "not confirmed: another instrument answered after the restart: ALVO/BRECKMOOR,VX900,SIM0002 "
               "(before: ALVO/BRECKMOOR,VX900,SIM0001)";
        QTest::newRow("never comes back")
            << QStringList{"--restart-after-quit", "0.3", "--restart-down", "never"} << 5
            << "not confirmed: the instrument did not come back within 2 s";
        QTest::newRow("never goes away") << QStringList{} << 5
                                         << "not confirmed: the instrument did not restart within 2 s";
    }

    void waitConcludes()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(int, exitStatus);
        QFETCH(QString, reboot);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeKit(folder);
        QTemporaryDir state;

        QProcess process;
        setUp(process, sim, state);
        process.setArguments({"--ip", "127.0.0.1", "--dir", folder.path(), "--json", "--await-reboot",
                              "--reboot-timeout", exitStatus == 0 ? "20" : "2"});
        process.start();
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == exitStatus, qPrintable(err));
        QVERIFY2(err.contains("After the restart: " + reboot), qPrintable(err));

        const QJsonObject printed = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(printed["outcome"].toString(), QString("succeeded"));
        QCOMPARE(printed["reboot"].toString(), reboot);
        QCOMPARE(onlyHistoryRecord(state), printed);

        // A confirmation asked the instrument that came back, on a new
        // connection, about every module's NAME file.
        const QList<QJsonObject> transcript = sim.transcript();
        const auto up = std::find_if(transcript.cbegin(), transcript.cend(), [](const QJsonObject &record) {
            return record["text"].toString() == QLatin1String("restart: up");
        });
        QStringList afterRestart;
        for (auto it = up; it != transcript.cend(); ++it) {
            if ((*it)["chan"].toString() == "cmd" && (*it)["dir"].toString() == "in")
                afterRestart << (*it)["text"].toString();
        }
        if (exitStatus == 0)
            QCOMPARE(afterRestart, QStringList({"*IDN?", "MMEM:CAT? \"/F0:/\"", "MMEM:CAT? \"/F0:/SYSTEM/MID3\"",
                                                "MMEM:CAT? \"/F0:/SYSTEM/MID5\""}));
    }

    // Ctrl-C while waiting ends the wait at once, and the run goes on
    // record with the restart not confirmed.
    void signalStopsTheWait()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        writeKit(folder);
        QTemporaryDir state;

        QProcess process;
        setUp(process, sim, state);
        process.setArguments({"--ip", "127.0.0.1", "--dir", folder.path(), "--await-reboot"});
        process.start();
        QByteArray out;
        while (!out.contains("Waiting up to 300 s") && process.waitForReadyRead(RunTimeoutMs))
            out += process.readAllStandardOutput();
        QVERIFY2(out.contains("Waiting up to 300 s"), out.constData());
        QElapsedTimer stopping;
        stopping.start();
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 5);
        QVERIFY2(stopping.elapsed() < 60000, "the wait went on after the signal");
        QCOMPARE(onlyHistoryRecord(state)["reboot"].toString(), QString("not confirmed: stopped while waiting"));
    }

    // Each instrument of a fleet is confirmed on its own; one that never
    // restarts makes the fleet exit 5 and shows in the table's column.
    void fleetConfirmsEachInstrument()
    {
        QString error;
        const SimFleet sims = StartSharingPorts({{"--restart-after-quit", "0.3", "--restart-down", "0.5"}, {}}, error);
        QVERIFY2(!sims.empty(), qPrintable(error));
        const SimInstrument &restarts = *sims[0]; // the second one stays up
        ProgramFolder folder;
        writeKit(folder);
        QTemporaryDir state;

        QProcess process;
        setUp(process, restarts, state);
        process.setArguments({"--ip", "127.0.0.2", "--ip", "127.0.0.3", "--dir", folder.path(), "--await-reboot",
                              "--reboot-timeout", "4"});
        process.start();
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 5, qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("RESTART\\s+MESSAGE\\n")), qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("^127\\.0\\.0\\.2\\b.*\\bsucceeded\\b.*\\bconfirmed\\b",
                                                 QRegularExpression::MultilineOption)),
                 qPrintable(out));
        QVERIFY2(out.contains(QRegularExpression("^127\\.0\\.0\\.3\\b.*\\bsucceeded\\b.*\\bnot confirmed  the "
                                                 "instrument did not restart within 4 s$",
                                                 QRegularExpression::MultilineOption)),
                 qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestCliReboot)
#include "tst_clireboot.moc"

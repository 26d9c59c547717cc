// vxupgrade-cli and what it shows or keeps of the world outside: a hostile
// identity never steers the terminal, a shared history follows the umask and
// a lost record is said on standard error, a stopped or unreachable audit or
// dry run says that nothing was written and stays on record as what it was.
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;

struct Finished
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

QProcessEnvironment environmentFor(quint16 cmdPort, quint16 ftpPort, const QString &state)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VX900_CMD_PORT", QString::number(cmdPort));
    environment.insert("VX900_FTP_PORT", QString::number(ftpPort));
    environment.insert("XDG_STATE_HOME", state);
    environment.insert("XDG_CONFIG_HOME", state + "/config");
    return environment;
}

void prepare(QProcess &process, const QProcessEnvironment &environment, mode_t mask)
{
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([mask] { ::umask(mask); });
}

Finished runCli(const QProcessEnvironment &environment, const QStringList &arguments, mode_t mask = 022)
{
    QProcess process;
    prepare(process, environment, mask);
    process.start(Program, arguments);
    process.closeWriteChannel();
    Finished result;
    if (!process.waitForFinished(RunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void writeKit(ProgramFolder &kit)
{
    kit.writeIni({{3, QStringLiteral("KRN3"), 0}});
    kit.write("target/KRN3/a.bin", sampleBytes(7000, 1));
    kit.write("MainFrame/d.bin", sampleBytes(1000, 2));
}

// The last record of the history, as JSON.
QJsonObject lastRecord(const QProcessEnvironment &environment)
{
    const Finished history = runCli(environment, {"--history", "--json", "--last", "1"});
    return QJsonDocument::fromJson(history.out.trimmed()).object();
}

// Bytes a terminal acts on: C0 but the line feed, DEL, and C1 in UTF-8.
bool holdsControls(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7f)
            return true;
        if (c == 0xc2 && i + 1 < bytes.size() && (static_cast<unsigned char>(bytes[i + 1]) & 0xe0) == 0x80)
            return true;
    }
    return false;
}

} // namespace

class TestCliOutside : public QObject
{
    Q_OBJECT

private slots:
    // An identity that would clear the screen and retitle the terminal
    // reaches the audit, the fleet table and the history table without one
    // control character, and the history's JSON keeps it whole, escaped.
    void hostileIdentityReachesNoTerminalRaw()
    {
        const QString identity = QStringLiteral("ALVO/BRECKMOOR,VX900\x1b]0;owned\x07,SN\x1b[2J\u009b5m1,1.00");
        QString error;
        const SimFleet sims = StartSharingPorts({{"--idn", identity}, {"--idn", identity}}, error);
        QVERIFY2(!sims.empty(), qPrintable(error));
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        const QProcessEnvironment environment = environmentFor(sims[0]->cmdPort(), sims[0]->ftpPort(), state.path());

        const QList<QStringList> runs{
            {"--verify", "--ip", "127.0.0.2", "--dir", kit.path()},
            {"--verify", "--ip", "127.0.0.2", "--ip", "127.0.0.3", "--dir", kit.path()},
            {"--ip", "127.0.0.3", "--yes", "--dir", kit.path()},
            {"--history"},
        };
        QList<QByteArray> shown;
        for (const QStringList &arguments : runs) {
            const Finished run = runCli(environment, arguments);
            QVERIFY2(run.status == 0 || run.status == 4, qPrintable(arguments.join(' ') + '\n' + run.err));
            shown << run.out + run.err;
            QVERIFY2(!holdsControls(shown.last()), (arguments.join(' ').toUtf8() + '\n' + shown.last()).constData());
        }
        // Shown, less its controls, in the fleet table and the history table.
        QVERIFY2(shown[1].count("VX900]0;owned,SN[2J") >= 2, shown[1].constData());
        QVERIFY2(shown[3].count("VX900]0;owned,SN[2J") >= 4, shown[3].constData());

        const Finished json = runCli(environment, {"--history", "--json"});
        QVERIFY(!holdsControls(json.out));
        const QList<QByteArray> lines = json.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        // The simulator sends UTF-8, which the tool reads byte for byte.
        for (const QByteArray &line : lines)
            QCOMPARE(QJsonDocument::fromJson(line).object().value("identity").toString(),
                     QString::fromLatin1(identity.toUtf8()));
    }

    // The history, its index and the digest cache are made as the umask
    // says, so that the next user of a shared folder can use them.
    void sharedHistoryFollowsTheUmask_data()
    {
        QTest::addColumn<uint>("mask");
        QTest::addColumn<uint>("mode");
        QTest::newRow("umask 002") << 002u << 0664u;
        QTest::newRow("umask 022") << 022u << 0644u;
    }

    void sharedHistoryFollowsTheUmask()
    {
        QFETCH(uint, mask);
        QFETCH(uint, mode);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        const QString shared = state.filePath("shared");
        const Finished run = runCli(environmentFor(sim.cmdPort(), sim.ftpPort(), state.path()),
                                    {"--ip", "127.0.0.1", "--yes", "--dir", kit.path(), "--history-file",
                                     shared + "/history.jsonl"},
                                    mode_t(mask));
        QCOMPARE(run.status, 0);
        for (const QString name : {"history.jsonl", "history.jsonl.index", "digests"}) {
            struct stat made {};
            QVERIFY2(::stat(QFile::encodeName(shared + '/' + name).constData(), &made) == 0, qPrintable(name));
            QVERIFY2((made.st_mode & 0777) == mode,
                     qPrintable(QStringLiteral("%1: %2").arg(name).arg(made.st_mode & 0777, 0, 8)));
        }
    }

    // A record that can't be written is said on standard error, with the
    // file and the reason; the status stays the run's own.
    void lostRecordIsSaidOnStandardError()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        // A link to a shared folder that is not mounted.
        const QString history = state.filePath("history.jsonl");
        QVERIFY(QFile::link(state.filePath("unmounted/history.jsonl"), history));
        const Finished run = runCli(environmentFor(sim.cmdPort(), sim.ftpPort(), state.path()),
                                    {"--ip", "127.0.0.1", "--dry-run", "--dir", kit.path(), "--history-file", history});
        QCOMPARE(run.status, 0);
        const QByteArray line = "vxupgrade-cli: The run could not be put on record: History not written to "
                                + QFile::encodeName(history) + ": No such file or directory";
        QVERIFY2(run.err.contains(line), run.err.constData());
        QVERIFY(run.out.contains("could not be put on record")); // the memo too
    }

    // Ctrl-C stops an audit or a dry run as it stops a run, but neither
    // writes: that is what it says, and the record stays what the run was.
    void stoppedAuditOrDryRunWroteNothing_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("said");
        QTest::newRow("audit") << "--verify" << "vxupgrade-cli: stopped; nothing was written (audit)";
        QTest::newRow("dry run") << "--dry-run" << "vxupgrade-cli: stopped; nothing was written (dry run)";
    }

    void stoppedAuditOrDryRunWroteNothing()
    {
        QFETCH(QString, mode);
        SimInstrument sim({"--reply-delay", "0.05"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        const QProcessEnvironment environment = environmentFor(sim.cmdPort(), sim.ftpPort(), state.path());
        QProcess process;
        prepare(process, environment, 022);
        process.start(Program, {"--ip", "127.0.0.1", "--dir", kit.path(), mode});
        QVERIFY(process.waitForStarted(RunTimeoutMs));
        QByteArray out;
        while (!out.contains("Connecting VX900") && process.waitForReadyRead(RunTimeoutMs))
            out += process.readAllStandardOutput();
        QVERIFY2(out.contains("Connecting VX900"), out.constData());
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(RunTimeoutMs));
        QCOMPARE(process.exitCode(), 1);
        const QByteArray err = process.readAllStandardError();
        QFETCH(QString, said);
        QVERIFY2(err.contains(said.toUtf8()), err.constData());
        QVERIFY(!err.contains("may hold part"));
        QVERIFY(sim.sent("ftp").filter("STOR").isEmpty());
        QVERIFY(sim.sent("cmd").filter("MDIR").isEmpty());

        const QJsonObject record = lastRecord(environment);
        QCOMPARE(record.value("outcome").toString(), QStringLiteral("stopped"));
        QVERIFY2(record.value("message").toString().contains("nothing was written"),
                 qPrintable(record.value("message").toString()));
        QCOMPARE(record.value("dryRun").toBool(), mode == "--dry-run");
        QCOMPARE(record.value("audit").isObject(), mode == "--verify");
    }

    // An audit of an instrument that does not answer is an audit that
    // failed, not a failed upgrade.
    void unreachableAuditStaysAnAudit()
    {
        QTcpServer closed; // a port that refuses once the server is gone
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        const QProcessEnvironment environment = environmentFor(port, port, state.path());
        const Finished run = runCli(environment, {"--verify", "--ip", "127.0.0.1", "--dir", kit.path()});
        QCOMPARE(run.status, 1);
        const QJsonObject record = lastRecord(environment);
        QCOMPARE(record.value("outcome").toString(), QStringLiteral("failed"));
        QVERIFY2(!record.value("audit").toObject().value("problem").toString().isEmpty(),
                 QJsonDocument(record).toJson().constData());
        const Finished table = runCli(environment, {"--history"});
        QVERIFY2(table.out.contains("failed (audit: drive not read)"), table.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliOutside)
#include "tst_clioutside.moc"

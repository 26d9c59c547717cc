// vxupgrade-cli --verify against the simulator: what the audit calls each
// path of the kit's folders, its exit status, that it writes nothing, and a
// two-instrument fleet audit.
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;
using Verdicts = QMap<QString, QString>; // path below "/F0:/" -> verdict, for what does not match

void writeKit(ProgramFolder &folder)
{
    folder.writeIni({{3, QStringLiteral("KRN3"), 0}});
    folder.write("target/KRN3/a.bin", sampleBytes(7000, 1));
    folder.write("target/KRN3/b.bin", sampleBytes(3000, 2));
    folder.write("target/KRN3/sub/c.bin", sampleBytes(6553, 3));
    folder.write("MainFrame/d.bin", sampleBytes(1000, 4));
}
const Verdicts AllMissing{{"KRN3/a.bin", "missing"}, {"KRN3/b.bin", "missing"},
                          {"KRN3/sub/c.bin", "missing"}, {"SYSTEM/d.bin", "missing"}};

struct Finished
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Finished runCli(quint16 cmdPort, quint16 ftpPort, const QString &state, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VX900_CMD_PORT", QString::number(cmdPort));
    environment.insert("VX900_FTP_PORT", QString::number(ftpPort));
    environment.insert("XDG_STATE_HOME", state);
    environment.insert("XDG_CONFIG_HOME", state + "/config");
    QProcess process;
    process.setProcessEnvironment(environment);
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

Finished runOn(const SimInstrument &sim, const QString &state, const QStringList &arguments)
{
    // An audit asks nothing, so it takes no answer.
    const QStringList answer = arguments.contains("--verify") ? QStringList{} : QStringList{"--yes"};
    return runCli(sim.cmdPort(), sim.ftpPort(), state, QStringList{"--ip", "127.0.0.1"} + answer + arguments);
}

Verdicts notMatching(const QJsonObject &audit)
{
    Verdicts verdicts;
    for (const QJsonValue &value : audit.value("notMatching").toArray())
        verdicts.insert(value["path"].toString().mid(QStringLiteral("/F0:/").size()), value["verdict"].toString());
    return verdicts;
}

// Writes one drive file of the simulator below "/F0:/".
void writeDrive(const SimInstrument &sim, const QString &path, const QByteArray &bytes)
{
    const QString full = sim.drive() + "/F0:/" + path;
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class TestCliAudit : public QObject
{
    Q_OBJECT

private slots:
    void audit_data()
    {
        QTest::addColumn<QString>("before");        // what happens before the audit
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("options");   // of the audit
        QTest::addColumn<int>("status");
        QTest::addColumn<Verdicts>("verdicts");

        QTest::newRow("fresh drive") << "" << QStringList() << QStringList() << 4 << AllMissing;
        QTest::newRow("after a full run") << "run" << QStringList() << QStringList() << 0 << Verdicts();
        QTest::newRow("after a full run, catalogue only")
            << "run" << QStringList{"--no-mlsd"} << QStringList() << 0 << Verdicts();
        QTest::newRow("after a full run, SIZE only")
            << "run" << QStringList{"--no-mlsd", "--catalogue-form", "names"} << QStringList() << 0 << Verdicts();
        QTest::newRow("kit file changed at the same size since its send")
            << "run, change kit" << QStringList() << QStringList() << 4 << Verdicts{{"KRN3/a.bin", "differs"}};
        QTest::newRow("drive file of another size")
            << "run, resize drive" << QStringList() << QStringList() << 4 << Verdicts{{"KRN3/b.bin", "differs"}};
        QTest::newRow("extra files; the system folder's own are not")
            << "run, extras" << QStringList() << QStringList() << 0
            << Verdicts{{"KRN3/zz.bin", "extra"}, {"KRN3/sub/old/", "extra"}};
        QTest::newRow("copied by hand: origin unknown")
            << "by hand" << QStringList() << QStringList() << 0
            << Verdicts{{"KRN3/a.bin", "unknown-origin"}, {"KRN3/b.bin", "unknown-origin"},
                        {"KRN3/sub/c.bin", "unknown-origin"}, {"SYSTEM/d.bin", "unknown-origin"}};
        QTest::newRow("copied by hand, --strict")
            << "by hand" << QStringList() << QStringList{"--strict"} << 4
            << Verdicts{{"KRN3/a.bin", "unknown-origin"}, {"KRN3/b.bin", "unknown-origin"},
                        {"KRN3/sub/c.bin", "unknown-origin"}, {"SYSTEM/d.bin", "unknown-origin"}};
        // A server that hashes: content is proven, or disproven, without the history.
        QTest::newRow("copied by hand, HASH offered") << "by hand" << QStringList{"--hash"} << QStringList() << 0 << Verdicts();
        QTest::newRow("drive file changed at the same size, HASH offered")
            << "run, change drive" << QStringList{"--hash"} << QStringList() << 4 << Verdicts{{"KRN3/a.bin", "differs"}};
        QTest::newRow("HASH refused: the history decides")
            << "by hand" << QStringList{"--hash", "refuse"} << QStringList() << 0
            << Verdicts{{"KRN3/a.bin", "unknown-origin"}, {"KRN3/b.bin", "unknown-origin"},
                        {"KRN3/sub/c.bin", "unknown-origin"}, {"SYSTEM/d.bin", "unknown-origin"}};
        QTest::newRow("HASH not to be trusted: no hex") << "run" << QStringList{"--hash", "garbled"} << QStringList() << 1 << Verdicts();
        QTest::newRow("listing lies: one byte more")
            << "run" << QStringList{"--mlsd-fault", "resize:c.bin"} << QStringList() << 4
            << Verdicts{{"KRN3/sub/c.bin", "differs"}};
        QTest::newRow("listing lies: a file left out")
            << "run" << QStringList{"--mlsd-fault", "omit:d.bin"} << QStringList() << 4
            << Verdicts{{"SYSTEM/d.bin", "missing"}};
        // Nothing sizes a file: never "same size", and with no file told,
        // no audit at all.
        const QStringList blind{"--no-mlsd", "--no-size", "--catalogue-form", "names"};
        QTest::newRow("nothing sizes any file: the audit could not be made")
            << "tiny drive" << blind << QStringList() << 1 << Verdicts();
        QTest::newRow("nothing sizes the files there: size unknown")
            << "tiny drive, one missing" << blind << QStringList() << 4
            << Verdicts{{"KRN3/a.bin", "size-unknown"}, {"KRN3/b.bin", "size-unknown"},
                        {"KRN3/sub/c.bin", "size-unknown"}, {"SYSTEM/d.bin", "missing"}};
        QTest::newRow("listing not to be trusted: huge size")
            << "run" << QStringList{"--mlsd-fault", "huge:a.bin"} << QStringList() << 1 << Verdicts();
    }
    void audit()
    {
        QFETCH(QString, before);
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(Verdicts, verdicts);
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir drive;
        QTemporaryDir state;
        const QStringList kitOption{"--dir", kit.path()};
        if (before.startsWith("run")) {
            SimInstrument first({"--drive", drive.path()});
            QVERIFY2(first.start(), qPrintable(first.errorString()));
            QCOMPARE(runOn(first, state.path(), kitOption).status, 0);
        }
        SimInstrument sim(simOptions + QStringList{"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        if (before.endsWith("change kit")) // same size, other bytes
            kit.write("target/KRN3/a.bin", sampleBytes(7000, 9));
        if (before.endsWith("change drive"))
            writeDrive(sim, "KRN3/a.bin", sampleBytes(7000, 9));
        if (before.endsWith("resize drive"))
            writeDrive(sim, "KRN3/b.bin", sampleBytes(2999, 2));
        if (before.endsWith("extras")) {
            writeDrive(sim, "KRN3/zz.bin", "left over");
            writeDrive(sim, "KRN3/sub/old/x.bin", "older");
            writeDrive(sim, "SYSTEM/instrument.cfg", "the instrument's own");
        }
        if (before.startsWith("tiny drive")) {
            for (const QString &file : AllMissing.keys())
                if (!before.endsWith("one missing") || !file.startsWith("SYSTEM"))
                    writeDrive(sim, file, QByteArray(10, 'x'));
        }
        if (before == "by hand") {
            for (const QString &file : AllMissing.keys()) {
                QFile source(kit.path() + sourceOf(file));
                QVERIFY(source.open(QIODevice::ReadOnly));
                writeDrive(sim, file, source.readAll());
            }
        }

        const Finished audit = runOn(sim, state.path(), kitOption + QStringList{"--verify", "--json"} + options);
        QVERIFY2(audit.status == status, (audit.err + audit.out).constData());
        // The audit writes nothing, whatever it finds.
        const QStringList writes = sim.sent("ftp").filter(QRegularExpression("^(STOR|APPE|MKD|DELE|RNFR|RMD) "))
                                   + sim.sent("cmd").filter(QRegularExpression("MDIR", QRegularExpression::CaseInsensitiveOption));
        QVERIFY2(writes.isEmpty(), qPrintable(writes.join('\n')));

        // One JSON object, the audit's record; the same goes into the history.
        const QJsonObject record = QJsonDocument::fromJson(audit.out).object();
        QVERIFY2(!record.isEmpty(), audit.out.constData());
        const QJsonObject found = record["audit"].toObject();
        QCOMPARE(found["clean"].toBool(), status == 0);
        const bool hashed = simOptions == QStringList{"--hash"};
        QCOMPARE(found["method"].toString().contains("Checked content by the server's HASH (SHA-256)."), hashed);
        if (status == 1) {
            QVERIFY(!found["problem"].toString().isEmpty());
            QVERIFY2(found["problem"].toString().contains("HASH") == simOptions.contains("--hash"),
                     qPrintable(found["problem"].toString()));
            if (before == "tiny drive")
                QVERIFY2(audit.out.contains("the audit could not be made"), audit.out.constData());
            QCOMPARE(record["outcome"].toString(), QStringLiteral("failed"));
        } else {
            QCOMPARE(notMatching(found), verdicts);
            const int matches = before.startsWith("run") || hashed
                                    ? 4 - int(verdicts.size()) + int(verdicts.values().count("extra")) : 0;
            if (hashed && verdicts.values().contains("differs"))
                QCOMPARE(found["notMatching"].toArray().first()["why"].toString(),
                         QStringLiteral("the drive's SHA-256 differs from the kit's"));
            QCOMPARE(found["counts"].toObject()["matches"].toInt(), matches);
        }
        const QJsonObject stored = QJsonDocument::fromJson(
            [&] {
                QFile history(state.path() + "/vxupgrade/history.jsonl");
                return history.open(QIODevice::ReadOnly) ? history.readAll().trimmed().split('\n').last() : QByteArray();
            }()).object();
        QCOMPARE(stored["audit"].toObject(), found);
    }

    // The table: a line for each path that does not match, then the counts;
    // --history shows the audit as one.
    void tableAndHistory()
    {
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished audit = runOn(sim, state.path(), {"--dir", kit.path(), "--verify"});
        QCOMPARE(audit.status, 4);
        const QString out = QString::fromUtf8(audit.out);
        QVERIFY2(out.contains(QRegularExpression("\\nmissing +/F0:/KRN3/sub/c\\.bin +6553 +-")), qPrintable(out));
        QVERIFY2(out.contains("matches 0, same size (origin unknown) 0, differs 0, missing 4, extra 0"), qPrintable(out));
        const Finished history = runCli(sim.cmdPort(), sim.ftpPort(), state.path(), {"--history"});
        QVERIFY2(history.out.contains("audit: 4 missing"), history.out.constData());
    }

    // Two instruments audited side by side: one holds the kit, one is fresh.
    void fleetAudit()
    {
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        QString error;
        const SimFleet sims = StartSharingPorts({{}, {"--idn", "ALVO/BRECKMOOR,VX900,SIM0002,1.00"}}, error);
        QVERIFY2(!sims.empty(), qPrintable(error));
        const SimInstrument &upgraded = *sims[0];
        const SimInstrument &fresh = *sims[1];
        const quint16 cmd = upgraded.cmdPort();
        const quint16 ftp = upgraded.ftpPort();
        QCOMPARE(runCli(cmd, ftp, state.path(), {"--ip", "127.0.0.2", "--yes", "--dir", kit.path()}).status, 0);

        const Finished audit = runCli(cmd, ftp, state.path(),
                                      {"--ip", "127.0.0.2", "--ip", "127.0.0.3", "--dir", kit.path(), "--verify", "--json"});
        QVERIFY2(audit.status == 4, audit.err.constData());
        QMap<QString, QJsonObject> audits;
        for (const QByteArray &line : audit.out.trimmed().split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            audits.insert(record["address"].toString(), record["audit"].toObject());
        }
        QCOMPARE(audits.keys(), (QStringList{"127.0.0.2", "127.0.0.3"}));
        QCOMPARE(audits["127.0.0.2"]["counts"].toObject()["matches"].toInt(), 4);
        QCOMPARE(notMatching(audits["127.0.0.3"]), AllMissing);
        QVERIFY2(audit.err.contains("Fleet audit: 1 of 2 instrument(s) hold the kit; files: 4 match, 0 unknown origin, "
                                    "0 differ, 4 missing, 0 extra"),
                 audit.err.constData());
        QVERIFY(fresh.sent("ftp").filter(QRegularExpression("^(STOR|MKD) ")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliAudit)
#include "tst_cliaudit.moc"

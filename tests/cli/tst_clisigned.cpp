// Signed kits through vxupgrade-cli against the simulator: keys and
// signatures made by the real signify-openbsd; every refused kit is refused
// before anything is written, as the simulator's transcript shows.
#include "support/RunFixture.h"
#include "support/SignifyTool.h"
#include "support/SimInstrument.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;

struct Finished
{
    int status = -1;
    QString out;
    QString err;
};

Finished runCli(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(Program, arguments);
    Finished result;
    if (!process.waitForStarted(RunTimeoutMs))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(RunTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.status = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void writeKit(ProgramFolder &kit)
{
    kit.writeIni({{3, QStringLiteral("KRN3"), 0}});
    kit.write(QStringLiteral("target/KRN3/krn3.bin"), sampleBytes(70000, 1));
    kit.write(QStringLiteral("target/KRN3/SIGNAL/s1.wfm"), sampleBytes(3000, 2));
    kit.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(12000, 3));
}

} // namespace

class TestCliSigned : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(keys.isValid() && state.isValid());
        for (const char *name : {"trusted", "other"}) {
            const QString made = signify::generate(keys.filePath(name));
            QVERIFY2(made.isEmpty(), qPrintable(made));
        }
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VX900_CMD_PORT", QString::number(sim.cmdPort()));
        environment.insert("VX900_FTP_PORT", QString::number(sim.ftpPort()));
        environment.insert("XDG_STATE_HOME", state.path());
        environment.insert("XDG_CONFIG_HOME", state.path() + "/config");
        environment.insert("VXUPGRADE_SYSTEM_KEYS", state.path() + "/system-keys");
    }

    // Each spoiled kit ends the run in pre-flight, with its line, before the
    // first folder is made or file sent; in fleet mode too.
    void refusedBeforeAnyWrite()
    {
        using Spoil = std::function<void(ProgramFolder &)>;
        const QString keyDir = keys.path();
        const struct
        {
            const char *name;
            const char *signer;
            Spoil spoil;
            QString line;
        } cases[] = {
            {"changed after signing", "trusted", [](ProgramFolder &k) { k.write("target/KRN3/krn3.bin", "x"); },
             "File differs from its signed digest: "},
            {"added, not listed", "trusted", [](ProgramFolder &k) { k.write("target/KRN3/more.bin", "x"); },
             "File not listed in SHA256.sig: "},
            {"listed, missing", "trusted",
             [](ProgramFolder &k) { QVERIFY(QFile::remove(k.path() + "target/KRN3/SIGNAL/s1.wfm")); },
             "Listed in SHA256.sig but missing: "},
            {"untrusted key", "other", {}, "no trusted key has the number"},
            {"truncated", "trusted", [](ProgramFolder &k) { k.write("SHA256.sig", "untrusted comment: x\nRWRX8"); },
             "not a signify signature"},
            {"bad list line", "trusted",
             [keyDir](ProgramFolder &k) {
                 k.write("SHA256", "SHA256 (../../etc/passwd) = " + QByteArray(64, '0') + "\n");
                 QVERIFY(signify::signEmbedded(keyDir + "/trusted.sec", k.path() + "SHA256", k.path() + "SHA256.sig")
                             .isEmpty());
             },
             "(path climbs out with \"..\")"},
            {"enormous", "trusted", [](ProgramFolder &k) { k.write("SHA256.sig", QByteArray(17 << 20, '\n')); },
             "larger than 16 MiB"},
        };
        for (const auto &c : cases) {
            ProgramFolder kit;
            writeKit(kit);
            QVERIFY(signPlain(kit, c.signer));
            if (c.spoil)
                c.spoil(kit);
            for (const bool fleet : {false, true}) {
                QStringList arguments{"--dir", kit.path(), "--trusted-key", keys.filePath("trusted.pub")};
                QFile addresses(kit.path() + "addresses");
                if (fleet) {
                    QVERIFY(addresses.open(QIODevice::WriteOnly));
                    addresses.write("127.0.0.1\n");
                    addresses.close();
                    arguments << "--ip-file" << addresses.fileName();
                } else {
                    arguments << "--ip" << "127.0.0.1";
                }
                const Finished run = runCli(arguments, environment);
                QVERIFY2(run.status == 1, c.name);
                if (!fleet) {
                    QVERIFY2(run.out.contains(c.line), qPrintable(QStringLiteral("%1: %2").arg(c.name, run.out)));
                    // The end says why the kit was refused, not that a copy failed.
                    QVERIFY2(run.err.contains("[error box] VX900 Upgrade\n  The kit was refused: nothing was "
                                              "written to VX900.\n\n"),
                             qPrintable(run.err));
                    QVERIFY2(run.err.contains(c.line), qPrintable(QStringLiteral("%1: %2").arg(c.name, run.err)));
                    QVERIFY(!run.err.contains("Fail to download"));
                }
                QVERIFY2(sim.sent("ftp").filter("STOR ").isEmpty(), c.name);
                QVERIFY2(sim.sent("cmd").filter("MDIR").isEmpty(), c.name);
            }
        }
    }

    // A folder without a kit file gets no list: an empty one would sign nothing.
    void noChecksumsOfNoKit()
    {
        for (const char *hidden : {"", "target/KRN3/.hidden"}) {
            ProgramFolder kit;
            QVERIFY(QDir().mkpath(kit.path() + "MainFrame"));
            if (*hidden)
                kit.write(hidden, "x");
            const Finished written = runCli({"--write-checksums", kit.path()}, environment);
            QCOMPARE(written.status, 1);
            QCOMPARE(written.err, QStringLiteral("vxupgrade-cli: No kit files in %1: no file under target or MainFrame, "
                                                 "and no vxUpgrade.ini\nvxupgrade-cli: SHA256 not written\n")
                                      .arg(kit.path()));
            QVERIFY(!QFile::exists(kit.path() + "SHA256"));
        }
    }

    // A signed kit: the dry run and the run say who signed it, and the
    // record keeps the signer; the files arrive. Runs last: it writes.
    void acceptedAndOnRecord()
    {
        ProgramFolder kit;
        writeKit(kit);
        // Named relative to the working folder: the list still names the kit's own paths.
        const Finished written = runCli({"--write-checksums", QDir::current().relativeFilePath(kit.path())}, environment);
        QVERIFY2(written.status == 0 && written.out.startsWith("4 files listed"), qPrintable(written.out + written.err));
        QVERIFY(signify::signEmbedded(keys.filePath("trusted.sec"), kit.path() + "SHA256", kit.path() + "SHA256.sig")
                    .isEmpty());
        const QStringList common{"--ip", "127.0.0.1", "--dir", kit.path(), "--require-signature"};

        // Trusted through the user's folder of keys, not named.
        QDir().mkpath(state.path() + "/config/vxupgrade/trusted-keys");
        QVERIFY(QFile::copy(keys.filePath("trusted.pub"), state.path() + "/config/vxupgrade/trusted-keys/pub"));
        const Finished dry = runCli(common + QStringList{"--dry-run"}, environment);
        QCOMPARE(dry.status, 0);
        QVERIFY2(dry.out.contains("untrusted comment: verify with trusted.pub"), qPrintable(dry.out));
        QVERIFY(sim.sent("ftp").filter("STOR ").isEmpty());

        const Finished run = runCli(common + QStringList{"--json"}, environment);
        QCOMPARE(run.status, 0);
        const QJsonObject record = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(record.value("signerKey").toString().size(), 16);
        QVERIFY2(run.err.contains("Kit signed by key " + record.value("signerKey").toString()), qPrintable(run.err));
        QCOMPARE(record.value("signerComment").toString(), QString("verify with trusted.pub"));
        QCOMPARE(sim.file("/F0:/KRN3/krn3.bin"), sampleBytes(70000, 1));
    }

private:
    bool signPlain(ProgramFolder &kit, const char *signer)
    {
        int status = runCli({"--write-checksums", kit.path()}, environment).status;
        return status == 0
            && signify::signEmbedded(keys.filePath(QString(signer) + ".sec"), kit.path() + "SHA256",
                                     kit.path() + "SHA256.sig")
                   .isEmpty();
    }

    QTemporaryDir keys;
    QTemporaryDir state;
    SimInstrument sim;
    QProcessEnvironment environment;
};

QTEST_GUILESS_MAIN(TestCliSigned)
#include "tst_clisigned.moc"

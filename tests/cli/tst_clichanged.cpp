// --changed-only against the simulator: a run re-run after a failure sends
// only what its verified sends did not cover; a file of the right size is
// sent unless a verified send of this very content is on record (or
// --trust-size); the history, its index and digests follow --history-file
// (or the settings file), and a damaged index is rebuilt.
#include "support/RunFixture.h"
#include "SimCli.h"
#include "support/SimInstrument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Five kit files in three instrument folders.
const QStringList KitFiles{"KRN3/a.bin", "KRN3/b.bin", "KRN3/sub/c.bin", "SYSTEM/d.bin", "SYSTEM/e.bin"};

void writeKit(ProgramFolder &folder)
{
    folder.writeIni({{3, QStringLiteral("KRN3"), 0}});
    folder.write("target/KRN3/a.bin", sampleBytes(70000, 1));
    folder.write("target/KRN3/b.bin", sampleBytes(3000, 2));
    folder.write("target/KRN3/sub/c.bin", sampleBytes(65537, 3));
    folder.write("MainFrame/d.bin", sampleBytes(1000, 4));
    folder.write("MainFrame/e.bin", sampleBytes(5000, 5));
}

using Finished = SimCliRun;

Finished runCli(const SimInstrument &sim, const QString &state, const QStringList &arguments)
{
    return runCliOn(sim, state, arguments);
}

// The kit files the simulator was sent, below "/F0:/", sorted.
QStringList kitFilesStored(const SimInstrument &sim)
{
    QStringList stored;
    for (const QString &line : sim.sent("ftp").filter(QRegularExpression("^STOR ")))
        if (!line.endsWith("/NAME"))
            stored << line.mid(QStringLiteral("STOR /F0:/").size());
    stored.sort();
    return stored;
}

// The last record of a history file.
QJsonObject lastRecord(const QString &historyFile)
{
    QFile file(historyFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object();
}

QStringList filesWith(const QJsonObject &record, const QString &key, const QString &start)
{
    QStringList paths;
    for (const QJsonValue &value : record.value("files").toArray()) {
        const QJsonObject file = value.toObject();
        if (file.value(key).toString().startsWith(start))
            paths << file.value("path").toString().mid(QStringLiteral("/F0:/").size());
    }
    paths.sort();
    return paths;
}

void verifyDrive(const SimInstrument &sim, const ProgramFolder &folder)
{
    for (const QString &file : KitFiles) {
        QFile source(folder.path() + sourceOf(file));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY2(sim.file("/F0:/" + file) == source.readAll(), qPrintable(file));
    }
}

} // namespace

class TestCliChanged : public QObject
{
    Q_OBJECT

private slots:
    // The first run fails part-way; the re-run sends exactly the files its
    // record does not show verified, and marks the others already there.
    void rerunAfterAFailureSendsOnlyTheRest_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::newRow("STOR fails") << QStringList{"--stor-fail", "550@4"};
        QTest::newRow("connection lost") << QStringList{"--drop-after-files", "4"};
    }
    void rerunAfterAFailureSendsOnlyTheRest()
    {
        QFETCH(QStringList, fault);
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir drive;
        QTemporaryDir state;
        const QString history = state.path() + "/vxupgrade/history.jsonl";
        {
            SimInstrument failing(fault + QStringList{"--drive", drive.path()});
            QVERIFY2(failing.start(), qPrintable(failing.errorString()));
            QCOMPARE(runCli(failing, state.path(), {"--dir", kit.path(), "--changed-only"}).status, 1);
        }
        const QStringList verified = filesWith(lastRecord(history), "outcome", "sent-verified");
        QVERIFY(!verified.isEmpty() && verified.size() < KitFiles.size());

        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished rerun = runCli(sim, state.path(), {"--dir", kit.path(), "--changed-only"});
        QVERIFY2(rerun.status == 0, qPrintable(rerun.out));
        QStringList rest = KitFiles;
        for (const QString &file : verified)
            rest.removeAll(file);
        QCOMPARE(kitFilesStored(sim), rest);
        verifyDrive(sim, kit);
        QCOMPARE(filesWith(lastRecord(history), "already", "already there (verified on "), verified);
        QVERIFY2(rerun.out.contains(QStringLiteral("Changed files only: %1 file(s)").arg(verified.size())),
                 qPrintable(rerun.out));
    }

    // After a full run: what a re-run with --changed-only sends.
    void sameSizeIsNotEnough_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("nothing changed") << "" << QStringList{} << QStringList{};
        QTest::newRow("unknown origin") << "forget" << QStringList{} << KitFiles;
        QTest::newRow("unknown origin, size trusted") << "forget" << QStringList{"--trust-size"} << QStringList{};
        QTest::newRow("changed locally, same size") << "local" << QStringList{} << QStringList{"KRN3/b.bin"};
        QTest::newRow("changed locally, size trusted") << "local" << QStringList{"--trust-size"}
                                                       << QStringList{"KRN3/b.bin"};
        QTest::newRow("other size on the drive") << "drive" << QStringList{} << QStringList{"SYSTEM/d.bin"};
        QTest::newRow("no MLSD: the catalogue") << "no-mlsd" << QStringList{} << QStringList{};
        QTest::newRow("folder gone from the drive") << "folder" << QStringList{} << QStringList{"KRN3/sub/c.bin"};
    }
    void sameSizeIsNotEnough()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, options);
        QFETCH(QStringList, sent);
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir drive;
        QTemporaryDir state;
        {
            SimInstrument first({"--drive", drive.path()});
            QVERIFY2(first.start(), qPrintable(first.errorString()));
            QCOMPARE(runCli(first, state.path(), {"--dir", kit.path()}).status, 0);
        }
        if (change == "forget")
            QVERIFY(QDir(state.path() + "/vxupgrade").removeRecursively());
        if (change == "local")
            kit.write("target/KRN3/b.bin", sampleBytes(3000, 99));
        if (change == "drive") {
            QFile replaced(drive.path() + "/F0:/SYSTEM/d.bin");
            QVERIFY(replaced.open(QIODevice::WriteOnly | QIODevice::Truncate));
            replaced.write(sampleBytes(999, 4));
        }
        if (change == "folder")
            QVERIFY(QDir(drive.path() + "/F0:/KRN3/sub").removeRecursively());

        SimInstrument sim(QStringList{"--drive", drive.path()} + (change == "no-mlsd" ? QStringList{"--no-mlsd"} : QStringList{}));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        // A dry run lists what the run then sends.
        const Finished preview =
            runCli(sim, state.path(), QStringList{"--dir", kit.path(), "--changed-only", "--dry-run"} + options);
        QVERIFY2(preview.status == 0, qPrintable(preview.out));
        QVERIFY2(preview.out.contains(QStringLiteral("Files to send (%1):").arg(sent.size())), qPrintable(preview.out));
        for (const QString &file : sent)
            QVERIFY2(preview.out.contains("/F0:/" + file), qPrintable(preview.out));
        // It tells what a run would do: it sent nothing itself.
        QVERIFY2(preview.out.contains("Changed files only: a run would ") && !preview.out.contains(" sent again")
                     && !preview.out.contains(" was sent"),
                 qPrintable(preview.out));
        const Finished rerun = runCli(sim, state.path(), QStringList{"--dir", kit.path(), "--changed-only"} + options);
        QVERIFY2(rerun.status == 0, qPrintable(rerun.out));
        QCOMPARE(kitFilesStored(sim), sent);
        verifyDrive(sim, kit);
        // The folders' listings tell which are there: none is asked for
        // again, and only the one gone is made.
        const QStringList commands = sim.sent("cmd");
        QCOMPARE(commands.filter("MDIR"), change == "folder" ? QStringList{"MMEM:MDIR \"sub\""} : QStringList{});
        QCOMPARE(commands.count(":MMEM:CDIR \"/F0:/KRN3/sub\""), 0);
        QCOMPARE(commands.count(":MMEM:CDIR \"/F0:/KRN3\""), change == "folder" ? 1 : 0);
    }

    // The history, its index and the digests go where --history-file (or
    // the settings file) says, nothing to the state folder; a damaged index
    // there is rebuilt, and the re-run still sends nothing.
    void historyFileElsewhereWithItsIndex_data()
    {
        QTest::addColumn<bool>("bySettings");
        QTest::newRow("--history-file") << false;
        QTest::newRow("history-file in vxupgrade.conf") << true;
    }
    void historyFileElsewhereWithItsIndex()
    {
        QFETCH(bool, bySettings);
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        QTemporaryDir shared;
        const QString history = shared.path() + "/lab/runs.jsonl";
        QStringList where{"--history-file", history};
        if (bySettings) {
            QVERIFY(QDir().mkpath(state.path() + "/config/vxupgrade"));
            QFile settings(state.path() + "/config/vxupgrade/vxupgrade.conf");
            QVERIFY(settings.open(QIODevice::WriteOnly));
            settings.write("history-file = " + history.toUtf8() + "\n");
            where.clear();
        }
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished first = runCli(sim, state.path(), QStringList{"--dir", kit.path()} + where);
        QVERIFY2(first.status == 0, qPrintable(first.out));
        QVERIFY(!first.out.contains("signature is required"));
        QVERIFY(QFile::exists(history));
        QVERIFY(QFile::exists(history + ".index"));
        QVERIFY(QFile::exists(shared.path() + "/lab/digests"));
        QVERIFY(!QFile::exists(state.path() + "/vxupgrade"));

        QFile index(history + ".index");
        QVERIFY(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write("vxupgrade-send-index 1 0 0 0\n\x01\xff\n");
        index.close();
        const Finished rerun = runCli(sim, state.path(), QStringList{"--dir", kit.path(), "--changed-only"} + where);
        QVERIFY2(rerun.status == 0, qPrintable(rerun.out));
        QVERIFY2(rerun.out.contains("rebuilt from the history"), qPrintable(rerun.out));
        QVERIFY2(rerun.out.contains("Changed files only: 5 file(s)"), qPrintable(rerun.out));
        QCOMPARE(kitFilesStored(sim), KitFiles); // the first run's STORs only

        const Finished listed = runCli(sim, state.path(), QStringList{"--history", "--json"} + where);
        QCOMPARE(listed.out.trimmed().split('\n').size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCliChanged)
#include "tst_clichanged.moc"

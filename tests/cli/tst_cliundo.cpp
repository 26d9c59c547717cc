// --backup, --restore and --delete-dropped against the simulator: a restore
// puts the drive back byte for byte, also after a run that failed half-way;
// a snapshot that can't be taken writes nothing; a restore refuses another
// instrument; --delete-dropped removes only files on record, stops at
// --max-delete before removing any, and removes what its dry run listed;
// old snapshots go.
#include "support/RunFixture.h"
#include "SimCli.h"
#include "support/SimInstrument.h"
#include "upgrade/run/Snapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Program = QStringLiteral(VX_CLI_PROGRAM);
constexpr int RunTimeoutMs = 120000;
const QString OtherIdn = QStringLiteral("ALVO/BRECKMOOR,VX900,SIM0002,1.00");

// The first kit; the second changes a.bin, drops old.bin and gone.bin
// (kept in sub/), and adds new.bin.
void writeFirstKit(ProgramFolder &kit)
{
    kit.writeIni({{3, QStringLiteral("KRN3"), 0}});
    kit.write("target/KRN3/a.bin", sampleBytes(70000, 1));
    kit.write("target/KRN3/old.bin", sampleBytes(3000, 2));
    kit.write("target/KRN3/sub/gone.bin", sampleBytes(65537, 3));
    kit.write("MainFrame/d.bin", sampleBytes(1000, 4));
}

void writeSecondKit(ProgramFolder &kit)
{
    kit.writeIni({{3, QStringLiteral("KRN3"), 0}});
    kit.write("target/KRN3/a.bin", sampleBytes(70000, 11));
    kit.write("target/KRN3/new.bin", sampleBytes(5000, 12));
    kit.write("target/KRN3/sub/kept.bin", sampleBytes(10, 13));
    kit.write("MainFrame/d.bin", sampleBytes(1000, 4));
}

// Puts `bytes` at `path` below the drive folder, as the operator would by
// hand; false when it can't be written.
bool writeOnDrive(const QString &drive, const QString &path, const QByteArray &bytes)
{
    QFile file(drive + "/" + path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

using Finished = SimCliRun;

Finished runCli(const SimInstrument &sim, const QString &state, const QStringList &arguments)
{
    return runCliOn(sim, state, arguments);
}

// Every file of a drive with its bytes, and every folder (its path ending
// in "/", no bytes).
QMap<QString, QByteArray> driveContent(const QString &drive)
{
    QMap<QString, QByteArray> content;
    QDirIterator it(drive + "/F0:", QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        const QString path = QDir(drive).relativeFilePath(entry.filePath());
        QFile file(entry.filePath());
        if (entry.isDir())
            content.insert(path + "/", {});
        else if (file.open(QIODevice::ReadOnly))
            content.insert(path, file.readAll());
    }
    return content;
}

QJsonObject lastRecord(const QString &state)
{
    QFile file(state + "/vxupgrade/history.jsonl");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll().trimmed().split('\n').last()).object();
}

// The writes and removals a run sent: STOR and DELE on FTP, MDIR on the command channel.
QStringList writes(const SimInstrument &sim)
{
    QStringList lines = sim.sent("ftp").filter(QRegularExpression("^(STOR|DELE) "));
    lines << sim.sent("cmd").filter(QRegularExpression("MDIR", QRegularExpression::CaseInsensitiveOption));
    return lines;
}

QStringList prefixed(const QString &out, const QString &start)
{
    QStringList found;
    for (const QString &line : out.split('\n')) {
        if (line.startsWith(start))
            found << line.mid(start.size()).trimmed();
    }
    return found;
}

} // namespace

class TestCliUndo : public QObject
{
    Q_OBJECT

private slots:
    // The second kit goes on with --backup --delete-dropped, whole or
    // broken off half-way; --restore then puts the first kit's drive back.
    void restoreGivesBackTheDriveBefore_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("removedByHand"); // a drive folder removed before the restore
        QTest::addColumn<QString>("putByHand");     // a file put in a folder the run made, before the restore
        QTest::newRow("run succeeded") << QStringList{} << 0 << QString() << QString();
        QTest::newRow("failed half-way") << QStringList{"--stor-fail", "451@3"} << 1 << QString() << QString();
        QTest::newRow("folder removed since") << QStringList{} << 0 << "F0:/KRN3/sub" << QString();
        QTest::newRow("file put in a new folder") << QStringList{} << 0 << QString() << "F0:/KRN3/newdir/op.txt";
    }
    void restoreGivesBackTheDriveBefore()
    {
        QFETCH(QStringList, fault);
        QFETCH(int, status);
        QFETCH(QString, removedByHand);
        QFETCH(QString, putByHand);
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        // Two folders the drive lacks: the restore removes them again.
        second.write("target/KRN3/newdir/inner/m.bin", sampleBytes(20, 14));
        QTemporaryDir drive, state;
        {
            SimInstrument sim({"--drive", drive.path()});
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        }
        // A file copied by hand is no run's: it stays whatever happens.
        QDir().mkpath(drive.path() + "/F0:/KRN3");
        QVERIFY(writeOnDrive(drive.path(), "F0:/KRN3/hand.bin", "by hand"));
        const QMap<QString, QByteArray> before = driveContent(drive.path());
        {
            SimInstrument sim(fault + QStringList{"--drive", drive.path()});
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            const Finished run = runCli(sim, state.path(), {"--dir", second.path(), "--backup", "--delete-dropped"});
            QVERIFY2(run.status == status, qPrintable(run.out));
            QVERIFY2(run.out.contains("Snapshot: 3 file(s) (138537 bytes) the run replaces, and 3 file(s) it creates"),
                     qPrintable(run.out));
            const QJsonObject record = lastRecord(state.path());
            QVERIFY(QFileInfo(record.value("snapshot").toString()).isDir());
            if (status == 0) {
                QCOMPARE(sim.sent("ftp").filter(QRegularExpression("^DELE ")),
                         (QStringList{"DELE /F0:/KRN3/old.bin", "DELE /F0:/KRN3/sub/gone.bin"}));
                QCOMPARE(record.value("deleted").toArray().size(), 2);
                QVERIFY(!driveContent(drive.path()).contains("F0:/KRN3/old.bin"));
            }
        }
        if (!removedByHand.isEmpty())
            QVERIFY(QDir(drive.path() + "/" + removedByHand).removeRecursively());
        QMap<QString, QByteArray> expected = before;
        if (!putByHand.isEmpty()) {
            // The operator's file stays, and with it the folder it is in.
            QVERIFY(writeOnDrive(drive.path(), putByHand, "operator's"));
            expected.insert(putByHand, "operator's");
            expected.insert("F0:/KRN3/newdir/", {});
        }
        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished restore = runCli(sim, state.path(), {"--restore"});
        QVERIFY2(restore.status == 0, qPrintable(restore.out));
        const QMap<QString, QByteArray> after = driveContent(drive.path());
        QCOMPARE(after.keys(), expected.keys());
        QCOMPARE(after, expected);
        QCOMPARE(prefixed(restore.out, "Kept the folder "),
                 putByHand.isEmpty() ? QStringList{}
                                     : QStringList{"/F0:/KRN3/newdir: it holds 1 entr(ies) that run did not put there."});
        const QJsonObject record = lastRecord(state.path());
        QVERIFY(!record.value("restore").toString().isEmpty());
        QCOMPARE(record.value("outcome").toString(), QString("succeeded"));

        // The first kit again, with --backup, over what the record shows
        // there: nothing to fetch, no snapshot.
        const Finished again = runCli(sim, state.path(), {"--dir", first.path(), "--backup"});
        QVERIFY2(again.status == 0, qPrintable(again.out));
        QVERIFY2(again.out.contains("the run replaces nothing on the instrument"), qPrintable(again.out));
        QVERIFY(sim.sent("ftp").filter(QRegularExpression("^RETR ")).isEmpty());
    }

    // A snapshot that can't be taken ends the run before its first write.
    void failedSnapshotWritesNothing_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<QString>("why");
        QTest::newRow("RETR refused") << QStringList{"--retr-refuse", "550@2"} << "the server refused to send it";
        QTest::newRow("RETR short") << QStringList{"--retr-short", "1"} << " bytes came of the ";
    }
    void failedSnapshotWritesNothing()
    {
        QFETCH(QStringList, fault);
        QFETCH(QString, why);
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        {
            SimInstrument sim({"--drive", drive.path()});
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        }
        const QMap<QString, QByteArray> before = driveContent(drive.path());
        SimInstrument sim(fault + QStringList{"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished run = runCli(sim, state.path(), {"--dir", second.path(), "--backup", "--delete-dropped"});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains("The snapshot could not be taken: ") && run.out.contains(why), qPrintable(run.out));
        QCOMPARE(writes(sim), QStringList{});
        QCOMPARE(driveContent(drive.path()), before);
        QCOMPARE(lastRecord(state.path()).value("outcome").toString(), QString("failed"));
        // No half snapshot is left to be restored from.
        QCOMPARE(upgrade::SnapshotStore(state.path() + "/vxupgrade/history.jsonl").snapshots().size(), 0);
    }

    // A snapshot goes back only onto the instrument it was taken from, and
    // restoring another instrument's by its run's time is refused too.
    void restoreRefusesAnotherInstrument()
    {
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        {
            SimInstrument sim({"--drive", drive.path()});
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
            QCOMPARE(runCli(sim, state.path(), {"--dir", second.path(), "--backup"}).status, 0);
        }
        const QString folder = lastRecord(state.path()).value("snapshot").toString();
        const QString started = lastRecord(state.path()).value("started").toString();
        SimInstrument other({"--drive", drive.path(), "--idn", OtherIdn});
        QVERIFY2(other.start(), qPrintable(other.errorString()));
        for (const QString &run : {folder, started}) {
            const Finished restore = runCli(other, state.path(), {"--restore", run});
            QCOMPARE(restore.status, 1);
            QVERIFY2(restore.out.contains("is of another instrument"), qPrintable(restore.out));
        }
        // Its own last snapshot: it has none.
        QCOMPARE(runCli(other, state.path(), {"--restore"}).status, 1);
        QCOMPARE(writes(other), QStringList{});
    }

    // --delete-dropped: what the dry run lists is what the run removes;
    // --max-delete below it stops the run before any write.
    void deleteDroppedListsThenRemovesOnlyWhatIsOnRecord()
    {
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        QVERIFY(writeOnDrive(drive.path(), "F0:/KRN3/hand.bin", "by hand"));

        const QStringList writesBefore = writes(sim);
        const Finished limited =
            runCli(sim, state.path(), {"--dir", second.path(), "--delete-dropped", "--max-delete", "1"});
        QCOMPARE(limited.status, 1);
        QVERIFY2(limited.out.contains("more than --max-delete 1 allows"), qPrintable(limited.out));
        QCOMPARE(writes(sim), writesBefore);

        const Finished preview = runCli(sim, state.path(), {"--dir", second.path(), "--delete-dropped", "--dry-run"});
        QVERIFY2(preview.status == 0, qPrintable(preview.out));
        const QStringList listed = prefixed(preview.out, "Would remove (dropped by the kit): ");
        QCOMPARE(listed, (QStringList{"/F0:/KRN3/old.bin", "/F0:/KRN3/sub/gone.bin"}));

        const Finished run = runCli(sim, state.path(), {"--dir", second.path(), "--delete-dropped"});
        QVERIFY2(run.status == 0, qPrintable(run.out));
        QStringList removed;
        for (const QJsonValue &value : lastRecord(state.path()).value("deleted").toArray())
            removed << value.toObject().value("path").toString();
        QCOMPARE(removed, listed);
        const QMap<QString, QByteArray> after = driveContent(drive.path());
        QVERIFY(after.contains("F0:/KRN3/hand.bin"));
        QVERIFY(after.contains("F0:/SYSTEM/MID3/NAME"));
        QVERIFY(!after.contains("F0:/KRN3/old.bin") && !after.contains("F0:/KRN3/sub/gone.bin"));
        // The send index forgot them: a second run has nothing to remove.
        const Finished again = runCli(sim, state.path(), {"--dir", second.path(), "--delete-dropped", "--dry-run"});
        QVERIFY2(prefixed(again.out, "Would remove").isEmpty(), qPrintable(again.out));
    }

    // A refused DELE fails the run, naming the file; what was removed
    // before it is on record.
    void refusedDeleteFailsTheRun()
    {
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        {
            SimInstrument sim({"--drive", drive.path()});
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        }
        SimInstrument sim({"--drive", drive.path(), "--dele-refuse", "550@2"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished run = runCli(sim, state.path(), {"--dir", second.path(), "--delete-dropped"});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains("refused to remove /F0:/KRN3/sub/gone.bin"), qPrintable(run.out));
        const QJsonArray deleted = lastRecord(state.path()).value("deleted").toArray();
        QCOMPARE(deleted.size(), 1);
        QCOMPARE(deleted.first().toObject().value("path").toString(), QString("/F0:/KRN3/old.bin"));
    }

    // A dropped file the operator changed since the run on record sent it
    // (another size now) is kept, in the dry run's list as in the run.
    void deleteDroppedKeepsAFileChangedByHand()
    {
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        QVERIFY(writeOnDrive(drive.path(), "F0:/KRN3/old.bin", "the operator's"));
        const QString kept = "Kept /F0:/KRN3/old.bin: it holds 14 bytes on the instrument, not the 3000";
        for (const QStringList &extra : {QStringList{"--dry-run"}, QStringList{}}) {
            const Finished run = runCli(sim, state.path(), QStringList{"--dir", second.path(), "--delete-dropped"} + extra);
            QVERIFY2(run.status == 0 && run.out.contains(kept), qPrintable(run.out));
            QStringList listed = prefixed(run.out, "Would remove (dropped by the kit): ")
                                 + prefixed(run.out, "To remove after the copy (dropped by the kit): ");
            QCOMPARE(listed, QStringList{"/F0:/KRN3/sub/gone.bin"});
        }
        QCOMPARE(sim.sent("ftp").filter(QRegularExpression("^DELE ")), QStringList{"DELE /F0:/KRN3/sub/gone.bin"});
        QCOMPARE(driveContent(drive.path()).value("F0:/KRN3/old.bin"), QByteArray("the operator's"));
    }

    // --restore takes the snapshot asked for or none: a damaged one is
    // refused by name, never swapped for an older one, and nothing is
    // written; a time that names two snapshots is refused too.
    void restoreNeverFallsBack()
    {
        ProgramFolder first, second;
        writeFirstKit(first);
        writeSecondKit(second);
        QTemporaryDir drive, state;
        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QCOMPARE(runCli(sim, state.path(), {"--dir", first.path()}).status, 0);
        QCOMPARE(runCli(sim, state.path(), {"--dir", second.path(), "--backup", "--delete-dropped"}).status, 0);
        QCOMPARE(runCli(sim, state.path(), {"--dir", first.path(), "--backup"}).status, 0);
        const QStringList writesBefore = writes(sim);
        const QString folder = lastRecord(state.path()).value("snapshot").toString();
        QFile manifestFile(folder + "/manifest.json");
        QVERIFY(manifestFile.open(QIODevice::ReadOnly));
        const QByteArray whole = manifestFile.readAll();
        manifestFile.close();
        const QJsonObject manifest = QJsonDocument::fromJson(whole).object();
        const auto edited = [&](const QString &list, const QString &field, const QJsonValue &value) {
            QJsonObject changed = manifest;
            QJsonArray entries = changed.value(list).toArray();
            if (field.isEmpty()) {
                entries[0] = value;
            } else {
                QJsonObject entry = entries[0].toObject();
                entry[field] = value;
                entries[0] = entry;
            }
            changed[list] = entries;
            return QJsonDocument(changed).toJson();
        };
        const QString replaced = manifest.value("replaced").toArray()[0].toObject().value("path").toString();
        const struct
        {
            QByteArray manifest; // empty: no manifest at all
            QString why;
        } damaged[] = {
            {whole.left(whole.size() / 2), "its manifest is not JSON"},
            {"[]", "its manifest is not one of this tool's"},
            {QByteArray(), "it has no manifest"},
            {edited("replaced", "size", -1), "has no size a file can have"},
            {edited("replaced", "size", "3000"), "has no size a file can have"},
            {edited("replaced", "path", "/F0:/KRN3/../../etc/x"), "holds an empty, \".\" or \"..\" part"},
            {edited("replaced", "path", "/etc/x"), "is not under the instrument's drive /F0:/"},
            {edited("replaced", "stored", "../1"), "no name of a snapshot's own"},
            {edited("created", QString(), "/F0:/KRN3/a\r\nDELE x"), "(/F0:/KRN3/a\\x0d\\x0aDELE x) holds"},
            {edited("created", QString(), replaced), "is named twice"},
        };
        const QString started = QFileInfo(folder).fileName();
        for (const auto &row : damaged) {
            QFile::remove(folder + "/manifest.json");
            if (!row.manifest.isEmpty()) {
                QVERIFY(manifestFile.open(QIODevice::WriteOnly));
                manifestFile.write(row.manifest);
                manifestFile.close();
            }
            for (const QString &run : {QString(), started}) {
                const Finished restore =
                    runCli(sim, state.path(), run.isEmpty() ? QStringList{"--restore"} : QStringList{"--restore", run});
                QCOMPARE(restore.status, 1);
                QVERIFY2(restore.out.contains("The snapshot " + folder + " is damaged: ") && restore.out.contains(row.why),
                         qPrintable(restore.out));
            }
        }
        QCOMPARE(writes(sim), writesBefore);

        // Whole again, with a second snapshot of the same second beside it
        // that no record names: its files created are no one's to remove.
        QVERIFY(manifestFile.open(QIODevice::WriteOnly));
        manifestFile.write(whole);
        manifestFile.close();
        const QString twin = folder.chopped(4) + (folder.endsWith("999Z") ? "998Z" : "999Z");
        QVERIFY(QDir().rename(folder, twin) && QDir().mkpath(folder));
        for (const QString &name : QDir(twin).entryList(QDir::Files))
            QVERIFY(QFile::copy(twin + "/" + name, folder + "/" + name));
        const QString sameSecond =
            QDateTime::fromString(started.left(15), "yyyyMMdd'T'HHmmss").toString("yyyy-MM-dd HH:mm:ss");
        const Finished ambiguous = runCli(sim, state.path(), {"--restore", sameSecond});
        QVERIFY2(ambiguous.status == 1 && ambiguous.out.contains("\"" + sameSecond + "\" names ")
                     && ambiguous.out.contains(started) && ambiguous.out.contains(QFileInfo(twin).fileName()),
                 qPrintable(ambiguous.out));
        const Finished unnamed = runCli(sim, state.path(), {"--restore", QFileInfo(twin).fileName()});
        QVERIFY2(unnamed.status == 1 && unnamed.out.contains("No record in the history names the snapshot"),
                 qPrintable(unnamed.out));
        QCOMPARE(writes(sim), writesBefore);
    }

    // Three snapshots with --keep-snapshots 2: the oldest goes, and
    // --history says so. The size limit takes the oldest first, never the
    // one just taken.
    void oldSnapshotsGo()
    {
        ProgramFolder kit;
        writeFirstKit(kit);
        QTemporaryDir drive, state;
        SimInstrument sim({"--drive", drive.path()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QCOMPARE(runCli(sim, state.path(), {"--dir", kit.path()}).status, 0);
        for (int round = 1; round <= 3; ++round) {
            kit.write("target/KRN3/a.bin", sampleBytes(70000, 20 + round));
            const Finished run = runCli(sim, state.path(), {"--dir", kit.path(), "--backup", "--keep-snapshots", "2"});
            QVERIFY2(run.status == 0, qPrintable(run.out));
        }
        const upgrade::SnapshotStore store(state.path() + "/vxupgrade/history.jsonl");
        const QList<upgrade::SnapshotStore::Entry> kept = store.snapshots();
        QCOMPARE(kept.size(), 2);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_STATE_HOME", state.path());
        QProcess table;
        table.setProcessEnvironment(environment);
        table.start(Program, {"--history"});
        QVERIFY(table.waitForFinished(RunTimeoutMs));
        const QString text = QString::fromUtf8(table.readAllStandardOutput());
        QCOMPARE(text.count(QRegularExpression(" kept\\n")), 2);
        QCOMPARE(text.count(QRegularExpression(" removed\\n")), 1);

        // 70,000 bytes each: a limit of 100,000 keeps only the newest.
        QCOMPARE(store.prune(5, 100000, kept.last().folder), QStringList{kept.first().folder});
        QCOMPARE(store.snapshots().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCliUndo)
#include "tst_cliundo.moc"

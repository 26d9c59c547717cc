// --sessions against the simulator: the kit goes over several FTP sessions
// and arrives whole; a server that takes fewer is no failure; a session lost
// in the middle of a file fails the run with a record that tells the truth;
// auto remembers what the model's server took.
#include "support/RunFixture.h"
#include "SimCli.h"
#include "support/SimInstrument.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Enough files in several folders that every session gets some.
QStringList writeKit(ProgramFolder &folder)
{
    folder.writeIni({{3, QStringLiteral("KRN3"), 0}});
    QStringList files;
    for (int i = 0; i < 24; ++i) {
        const QString relative = QStringLiteral("KRN3/%1/f%2.bin").arg(i % 3 ? "sub" : "top").arg(i);
        folder.write("target/" + relative, sampleBytes(2000 + 3000 * i, i));
        files << relative;
    }
    for (int i = 0; i < 4; ++i) {
        folder.write(QStringLiteral("MainFrame/s%1.bin").arg(i), sampleBytes(500 + i, 100 + i));
        files << QStringLiteral("SYSTEM/s%1.bin").arg(i);
    }
    return files;
}

using Finished = SimCliRun;

Finished runCli(const SimInstrument &sim, const QString &state, const QStringList &arguments)
{
    return runCliOn(sim, state, arguments);
}

// FTP connections of the transcript that logged in, and those that stored a file.
struct Sessions
{
    QSet<int> loggedIn;
    QSet<int> storing;
};

Sessions sessionsOf(const SimInstrument &sim)
{
    Sessions sessions;
    for (const QJsonObject &line : sim.transcript()) {
        if (line.value("chan").toString() != "ftp")
            continue;
        const int conn = line.value("conn").toInt();
        const QString text = line.value("text").toString();
        if (line.value("dir").toString() == "out" && text.startsWith("230"))
            sessions.loggedIn << conn;
        if (line.value("dir").toString() == "in" && text.startsWith("STOR ") && !text.endsWith("/NAME"))
            sessions.storing << conn;
    }
    return sessions;
}

QJsonObject lastRecord(const QString &state)
{
    QFile file(state + "/vxupgrade/history.jsonl");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll().trimmed().split('\n').last()).object();
}

QByteArray source(const ProgramFolder &folder, const QString &driveFile)
{
    QFile file(folder.path() + sourceOf(driveFile));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

class TestCliSessions : public QObject
{
    Q_OBJECT

private slots:
    void kitArrivesOverTheSessionsTheServerTakes_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<QString>("memo");
        QTest::newRow("three") << QStringList{} << 3 << QString();
        QTest::newRow("server takes 2") << QStringList{"--max-sessions", "2"} << 2
                                        << QStringLiteral("VX900 took 2 of the 3 FTP sessions asked for (421 ");
        QTest::newRow("server takes 1") << QStringList{"--max-sessions", "1"} << 1
                                        << QStringLiteral("VX900 took 1 of the 3 FTP sessions asked for (421 ");
    }
    void kitArrivesOverTheSessionsTheServerTakes()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(int, sessions);
        QFETCH(QString, memo);
        ProgramFolder kit;
        const QStringList files = writeKit(kit);
        QTemporaryDir state;
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished run = runCli(sim, state.path(), {"--dir", kit.path(), "--sessions", "3"});
        QVERIFY2(run.status == 0, qPrintable(run.out));
        for (const QString &file : files)
            QVERIFY2(sim.file("/F0:/" + file) == source(kit, file), qPrintable(file));
        const Sessions seen = sessionsOf(sim);
        QCOMPARE(seen.loggedIn.size(), sessions);
        QCOMPARE(seen.storing.size(), sessions);
        QCOMPARE(run.out.count(QStringLiteral("FTP sessions asked for")), memo.isEmpty() ? 0 : 1);
        QVERIFY2(memo.isEmpty() || run.out.contains(memo), qPrintable(run.out));
        const QJsonObject record = lastRecord(state.path());
        QCOMPARE(record.value("outcome").toString(), QStringLiteral("succeeded"));
        QCOMPARE(record.value("sessions").toInt(), sessions);
        for (const QJsonValue &file : record.value("files").toArray())
            QCOMPARE(file.toObject().value("outcome").toString(), QStringLiteral("sent-verified"));
    }

    // The session drops while the file's bytes are arriving: the run fails
    // on that file, the others already sent are on record as sent (and are
    // on the drive), and no file is said to be there that is not.
    void sessionLostMidFileFailsTheRunTruthfully()
    {
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        SimInstrument sim({"--drop-mid-file", "6"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Finished run = runCli(sim, state.path(), {"--dir", kit.path(), "--sessions", "3"});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains(QStringLiteral("Upload failed")), qPrintable(run.out));
        QString dropped;
        for (const QJsonObject &line : sim.transcript())
            if (line.value("text").toString() == "drop mid-file")
                dropped = line.value("path").toString();
        QVERIFY(!dropped.isEmpty());
        const QJsonObject record = lastRecord(state.path());
        QCOMPARE(record.value("outcome").toString(), QStringLiteral("failed"));
        int sent = 0;
        for (const QJsonValue &value : record.value("files").toArray()) {
            const QJsonObject file = value.toObject();
            const QString path = file.value("path").toString();
            const QString outcome = file.value("outcome").toString();
            if (path == dropped) {
                QCOMPARE(outcome, QStringLiteral("failed"));
                QVERIFY(sim.file(path).isEmpty());
            } else if (outcome.startsWith("sent-")) {
                ++sent;
                QVERIFY2(sim.file(path) == source(kit, path.mid(5)), qPrintable(path));
            } else {
                QVERIFY2(outcome == "not-sent" && sim.file(path).isEmpty(), qPrintable(path + ' ' + outcome));
            }
        }
        QVERIFY(sent >= 1);
    }

    // auto asks 4 of a server that takes 2, and the next run asks 2 of it:
    // from the index the first record made, then from the index rebuilt
    // from the history when the index is gone.
    void autoRemembersWhatTheModelTook()
    {
        ProgramFolder kit;
        writeKit(kit);
        QTemporaryDir state;
        struct Round
        {
            QStringList options;
            QString memo;
            bool dropIndex;
        };
        const QList<Round> rounds{
            {{"--max-sessions", "2"}, QStringLiteral("VX900 took 2 of the 4 FTP sessions asked for"), false},
            {{}, QString(), false},
            {{}, QString(), true}};
        for (const auto &[options, memo, dropIndex] : rounds) {
            const QString index = state.path() + "/vxupgrade/history.jsonl.index";
            QVERIFY(!dropIndex || (QFile::exists(index) && QFile::remove(index)));
            SimInstrument sim(options);
            QVERIFY2(sim.start(), qPrintable(sim.errorString()));
            const Finished run = runCli(sim, state.path(), {"--dir", kit.path(), "--sessions", "auto"});
            QVERIFY2(run.status == 0, qPrintable(run.out));
            QCOMPARE(run.out.contains(QStringLiteral("FTP sessions asked for")), !memo.isEmpty());
            QVERIFY2(memo.isEmpty() || run.out.contains(memo), qPrintable(run.out));
            QCOMPARE(sessionsOf(sim).loggedIn.size(), 2);
            const QJsonObject record = lastRecord(state.path());
            QCOMPARE(record.value("sessions").toInt(), 2);
            QVERIFY(record.value("sessionsAuto").toBool());
        }
    }
};

QTEST_GUILESS_MAIN(TestCliSessions)
#include "tst_clisessions.moc"

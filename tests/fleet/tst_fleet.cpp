#include "fleet/AddressList.h"
#include "fleet/ChildProtocol.h"
#include "fleet/FleetConsole.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetRun.h"
#include "upgrade/record/RunHistory.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace fleet;

namespace {

constexpr int WaitMs = 30000;

QString fakeChild()
{
    return qEnvironmentVariable("VX_SOURCE_DIR") + QStringLiteral("/tests/fleet/fakechild.py");
}

// A fleet of fake children: "behave" maps an address to the fake's mode.
FleetSettings fakeSettings(const QStringList &behave, FleetAnswer answer = FleetAnswer::Unset, int jobs = 0)
{
    FleetSettings settings;
    settings.program = qEnvironmentVariable("VX_PYTHON", QStringLiteral("/usr/bin/python3"));
    settings.leadingArguments = {fakeChild()};
    settings.kitDir = QStringLiteral("/kit");
    settings.answer = answer;
    settings.jobs = jobs;
    for (const QString &item : behave)
        settings.extraArguments << QStringLiteral("--behave") << item;
    return settings;
}

QStringList outcomes(const FleetRun &run)
{
    QStringList names;
    for (const InstrumentState &state : run.instruments())
        names << outcomeName(state.outcome);
    return names;
}

bool waitFinished(FleetRun &run)
{
    if (run.isFinished())
        return true;
    QSignalSpy spy(&run, &FleetRun::finished);
    return spy.wait(WaitMs);
}

QByteArray readAll(std::FILE *stream)
{
    std::rewind(stream);
    QByteArray bytes;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return bytes;
}

} // namespace

class tst_Fleet : public QObject
{
    Q_OBJECT

private slots:
    void addressList_data();
    void addressList();
    void childLineReader();
    void outcomesAndExitStatus_data();
    void outcomesAndExitStatus();
    void childWithoutRecordIsOnRecord_data();
    void childWithoutRecordIsOnRecord();
    void hungChildAndStop();
    void stopBeforeStart();
    void jobsBound();
    void programMissing();
    void plainConsole();
    void messageWithDetail_data();
    void messageWithDetail();
};

void tst_Fleet::addressList_data()
{
    QTest::addColumn<QStringList>("ips");
    QTest::addColumn<QByteArray>("file"); // empty: no --ip-file
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("error"); // pieces the usage error must hold, "|" between

    QTest::newRow("file with comments, blanks, CR LF, spaces")
        << QStringList{QStringLiteral("10.0.0.1")}
        << QByteArray("# lab 3\n\n  127.0.0.2  \r\n127.0.0.3 # bench B\n\t# done\n127.0.0.4")
        << QStringList{"10.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"} << QString();
    QTest::newRow("malformed line") << QStringList() << QByteArray("127.0.0.2\n# x\n127.0.0.300\n")
                                    << QStringList() << QStringLiteral("list.txt:3|127.0.0.300");
    QTest::newRow("trailing junk") << QStringList() << QByteArray("127.0.0.2 junk\n") << QStringList()
                                   << QStringLiteral("list.txt:1|127.0.0.2 junk");
    QTest::newRow("bad --ip") << QStringList{QStringLiteral("lab-pc")} << QByteArray() << QStringList()
                              << QStringLiteral("--ip|lab-pc");
    QTest::newRow("twice in the file") << QStringList() << QByteArray("127.0.0.2\n127.0.0.3\n127.0.0.2\n")
                                       << QStringList() << QStringLiteral("list.txt:3|list.txt:1|127.0.0.2");
    // The link reads "02" as the same number, so it is the same instrument.
    QTest::newRow("twice, spelled apart") << QStringList{QStringLiteral("127.0.0.2")}
                                          << QByteArray("127.0.0.02\n") << QStringList()
                                          << QStringLiteral("list.txt:1|--ip|127.0.0.2");
    QTest::newRow("zeros mean nothing") << QStringList() << QByteArray("127.0.0.010\n127.0.0.008\n")
                                        << QStringList{"127.0.0.10", "127.0.0.8"} << QString();
    QTest::newRow("shorthand") << QStringList() << QByteArray("127.0.0.2\n127.3\n") << QStringList()
                               << QStringLiteral("list.txt:2|127.3");
    QTest::newRow("one number") << QStringList() << QByteArray("1\n") << QStringList() << QStringLiteral("list.txt:1|\"1\"");
    QTest::newRow("hex") << QStringList() << QByteArray("0x7f.0.0.1\n") << QStringList()
                         << QStringLiteral("list.txt:1|0x7f.0.0.1");
    QTest::newRow("file of comments only") << QStringList() << QByteArray("# nothing yet\n\n") << QStringList()
                                           << QStringLiteral("list.txt|no address");
}

void tst_Fleet::addressList()
{
    QFETCH(QStringList, ips);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    AddressList list;
    QString message;
    for (const QString &ip : ips) {
        if (message.isEmpty())
            message = list.addArgument(ip);
    }
    if (!file.isEmpty() && message.isEmpty()) {
        QFile out(dir.filePath(QStringLiteral("list.txt")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        message = list.addFile(out.fileName());
    }
    if (error.isEmpty()) {
        QCOMPARE(message, QString());
        QCOMPARE(list.addresses(), expected);
    } else {
        for (const QString &piece : error.split(u'|'))
            QVERIFY2(message.contains(piece), qPrintable(message));
    }
}

void tst_Fleet::childLineReader()
{
    const QByteArray stream = "{\"memo\":\"Copying KRN3\"}\n"
                              "not json\r\n"
                              "{\"later\":{\"x\":1}}\n"
                              "\n"
                              "{\"progress\":\"wrong shape\"}\n"
                              "{\"progress\":{\"done\":3000000000,\"total\":6000000000,\"file\":\"/F0:/a\"}}\n"
                              "{\"record\":{\"outcome\":\"succeeded\"}}";
    // Whole, and a byte at a time: the pipe may cut anywhere.
    for (const int piece : {int(stream.size()), 1}) {
        ChildLineReader reader;
        QList<ChildEvent> events;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            events << reader.feed(stream.mid(at, piece));
        events << reader.finish();
        QCOMPARE(events.size(), 5);
        QCOMPARE(events[0].kind, ChildEvent::Kind::Memo);
        QCOMPARE(events[1].kind, ChildEvent::Kind::Text);
        QCOMPARE(events[1].text, QStringLiteral("not json"));
        QCOMPARE(events[2].kind, ChildEvent::Kind::Text); // a known event of the wrong shape is shown
        QCOMPARE(events[3].kind, ChildEvent::Kind::Progress);
        QCOMPARE(events[3].done, Q_INT64_C(3000000000));
        QCOMPARE(events[4].kind, ChildEvent::Kind::Record);
        QCOMPARE(events[4].record.value(QStringLiteral("outcome")).toString(), QStringLiteral("succeeded"));
    }
    // What the child's side writes, the fleet's side reads.
    const std::optional<ChildEvent> box =
        parseChildLine(childline::box(QStringLiteral("question"), QStringLiteral("vxUpgrade"),
                                      QStringLiteral("Low space"), QStringLiteral("no"))
                           .chopped(1));
    QVERIFY(box && box->kind == ChildEvent::Kind::Box);
    QCOMPARE(box->outcome, QStringLiteral("no"));
}

void tst_Fleet::outcomesAndExitStatus_data()
{
    QTest::addColumn<QStringList>("behave");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("expected"); // outcome of 127.0.0.2, 127.0.0.3
    QTest::addColumn<QString>("message");       // what the second one's message holds
    QTest::addColumn<int>("exitStatus");

    const int unset = int(FleetAnswer::Unset);
    QTest::newRow("all succeed") << QStringList() << unset << QStringList{"succeeded", "succeeded"} << QString()
                                 << 0;
    QTest::newRow("one fails") << QStringList{"127.0.0.3=fail"} << unset << QStringList{"succeeded", "failed"}
                               << QStringLiteral("Fail to download") << 1;
    QTest::newRow("no answer given: declined")
        << QStringList{"127.0.0.3=ask"} << unset << QStringList{"succeeded", "declined"}
        << QStringLiteral("no --yes given") << 3;
    QTest::newRow("--yes answers the question")
        << QStringList{"127.0.0.3=ask"} << int(FleetAnswer::Yes) << QStringList{"succeeded", "succeeded"}
        << QString() << 0;
    QTest::newRow("declined and failed") << QStringList{"127.0.0.2=ask", "127.0.0.3=fail"} << int(FleetAnswer::No)
                                         << QStringList{"declined", "failed"} << QString() << 1;
    QTest::newRow("crash") << QStringList{"127.0.0.3=crash"} << unset << QStringList{"succeeded", "failed"}
                           << QStringLiteral("signal 11") << 1;
    QTest::newRow("usage error in the child") << QStringList{"127.0.0.3=usage"} << unset
                                              << QStringList{"succeeded", "failed"}
                                              << QStringLiteral("XYZ has no check box") << 1;
    QTest::newRow("record says more than the exit status")
        << QStringList{"127.0.0.3=liar"} << unset << QStringList{"succeeded", "failed"}
        << QStringLiteral("exit status 1") << 1;
    QTest::newRow("noise and a record without its line break")
        << QStringList{"127.0.0.3=noisy"} << unset << QStringList{"succeeded", "succeeded"} << QString() << 0;
}

void tst_Fleet::outcomesAndExitStatus()
{
    QFETCH(QStringList, behave);
    QFETCH(int, answer);
    QFETCH(QStringList, expected);
    QFETCH(QString, message);
    QFETCH(int, exitStatus);

    FleetRun run(fakeSettings(behave, FleetAnswer(answer)), {"127.0.0.2", "127.0.0.3"}, nullptr);
    QList<int> endOrder;
    connect(&run, &FleetRun::ended, this, [&endOrder](int index) { endOrder << index; });
    run.start();
    QVERIFY(waitFinished(run));
    QCOMPARE(outcomes(run), expected);
    QVERIFY2(run.instruments()[1].message.contains(message), qPrintable(run.instruments()[1].message));
    QCOMPARE(fleetExitStatus(run.instruments()), exitStatus);
    QCOMPARE(endOrder.size(), 2);

    // The child was handed its address, the kit and the answer.
    const InstrumentState &first = run.instruments()[0];
    const QString answerFlag = FleetAnswer(answer) == FleetAnswer::Yes ? QStringLiteral("--yes") : QStringLiteral("--no");
    QCOMPARE(run.childArguments(first.address).mid(1, 6),
             (QStringList{"--fleet-child", "--ip", "127.0.0.2", "--dir", "/kit", answerFlag}));

    // Every instrument has a record line, the fleet's verdict in it.
    for (const InstrumentState &state : run.instruments()) {
        const QJsonObject record = QJsonDocument::fromJson(reportRecordLine(state)).object();
        QCOMPARE(record.value(QStringLiteral("outcome")).toString(), outcomeName(state.outcome));
        QCOMPARE(record.value(QStringLiteral("address")).toString(), state.address);
    }
    if (expected == QStringList{"succeeded", "succeeded"} && behave.isEmpty()) {
        QCOMPARE(first.filesSent, 2);
        QCOMPARE(first.bytesDone, 8192);
        QCOMPARE(first.identity, QStringLiteral("FAKE,VX900,127.0.0.2"));
    }
}

void tst_Fleet::childWithoutRecordIsOnRecord_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("childExit"); // empty: the child's own record, none by the fleet
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("step");

    QTest::newRow("SIGKILL mid-copy") << "killed" << "signal 9" << QStringList{"/F0:/KRN3/a.bin:sent-verified"}
                                      << "module KRN3";
    QTest::newRow("SIGSEGV") << "crash" << "signal 11" << QStringList() << "module KRN3";
    QTest::newRow("usage error") << "usage" << "exit status 2" << QStringList() << "connecting";
    QTest::newRow("its own record") << "ok" << QString() << QStringList() << QString();
}

void tst_Fleet::childWithoutRecordIsOnRecord()
{
    QFETCH(QString, mode);
    QFETCH(QString, childExit);
    QFETCH(QStringList, files);
    QFETCH(QString, step);

    QTemporaryDir dir;
    FleetSettings settings = fakeSettings({"127.0.0.3=" + mode});
    settings.historyFile = dir.filePath(QStringLiteral("history.jsonl"));
    FleetRun run(settings, {"127.0.0.3"}, nullptr);
    run.start();
    QVERIFY(waitFinished(run));

    // The fake writes no history of its own: what is there, the fleet wrote.
    const QList<upgrade::RunRecord> records = upgrade::RunHistory(settings.historyFile).read().records;
    if (childExit.isEmpty()) {
        QCOMPARE(records.size(), 0);
        return;
    }
    QCOMPARE(records.size(), 1);
    const upgrade::RunRecord &record = records.first();
    QCOMPARE(record.outcome, QStringLiteral("crashed"));
    QCOMPARE(record.childExit, childExit);
    QVERIFY2(record.message.contains(childExit.section(' ', -1)), qPrintable(record.message));
    QCOMPARE(record.address, QStringLiteral("127.0.0.3"));
    QCOMPARE(record.identity, QStringLiteral("FAKE,VX900,127.0.0.3"));
    QCOMPARE(record.kitFolder, QStringLiteral("/kit"));
    QCOMPARE(record.step, step);
    QStringList recorded;
    for (const upgrade::RecordedFile &file : record.files)
        recorded << file.instrumentPath + ':' + upgrade::FileOutcomeName(file.outcome);
    QCOMPARE(recorded, files);
    QVERIFY(record.started.isValid() && record.started <= record.ended);
}

void tst_Fleet::hungChildAndStop()
{
    // A hung child holds its own slot only: the others run to their end.
    FleetSettings settings =
        fakeSettings({"127.0.0.2=hang", "127.0.0.3=deaf", "127.0.0.4=fail"}, FleetAnswer::Unset, 3);
    settings.stopGraceMs = 500;
    FleetRun run(settings, {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"}, nullptr);
    int ended = 0;
    connect(&run, &FleetRun::ended, this, [&ended] { ++ended; });
    run.start();
    // Both have set up their SIGTERM handling once they are in a module.
    QTRY_VERIFY_WITH_TIMEOUT(run.instruments()[0].step == QLatin1String("module")
                                 && run.instruments()[1].step == QLatin1String("module"),
                             WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(ended, 3, WaitMs);
    QCOMPARE(outcomes(run), (QStringList{"running", "running", "failed", "succeeded", "succeeded"}));
    QVERIFY(!run.isFinished());

    run.stop();
    QVERIFY(waitFinished(run));
    QCOMPARE(outcomes(run), (QStringList{"stopped", "stopped", "failed", "succeeded", "succeeded"}));
    QCOMPARE(run.instruments()[0].message, QStringLiteral("stopped by the operator")); // its own record
    QVERIFY2(run.instruments()[1].message.startsWith(QStringLiteral("killed")),
             qPrintable(run.instruments()[1].message));
    QCOMPARE(fleetExitStatus(run.instruments()), 1);
}

void tst_Fleet::stopBeforeStart()
{
    FleetRun run(fakeSettings({"127.0.0.2=hang"}, FleetAnswer::Yes, 1), {"127.0.0.2", "127.0.0.3"}, nullptr);
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.instruments()[0].step == QLatin1String("module"), WaitMs);
    run.stop();
    QVERIFY(waitFinished(run));
    QCOMPARE(outcomes(run), (QStringList{"stopped", "stopped"}));
    QCOMPARE(run.instruments()[1].childExit, QStringLiteral("not started"));
    QCOMPARE(fleetExitStatus(run.instruments()), 1);
}

void tst_Fleet::jobsBound()
{
    QTemporaryDir gate;
    QVERIFY(gate.isValid());
    FleetSettings settings = fakeSettings({}, FleetAnswer::Yes, 2);
    const QStringList addresses{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
    for (const QString &address : addresses)
        settings.extraArguments << QStringLiteral("--behave") << address + QStringLiteral("=gate");
    settings.extraArguments << QStringLiteral("--gate") << gate.path();
    FleetRun run(settings, addresses, nullptr);
    QList<int> seen; // how many were running when each one began
    connect(&run, &FleetRun::childEvent, this, [&seen](int, const ChildEvent &event) {
        if (event.kind == ChildEvent::Kind::Memo && event.text.startsWith(QLatin1String("running ")))
            seen << event.text.mid(8).toInt();
    });
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, WaitMs);
    QFile release(gate.filePath(QStringLiteral("release")));
    QVERIFY(release.open(QIODevice::WriteOnly));
    release.close();
    QVERIFY(waitFinished(run));
    QCOMPARE(seen.size(), 5);
    QCOMPARE(*std::max_element(seen.begin(), seen.end()), 2); // two at once, never more
    QCOMPARE(fleetExitStatus(run.instruments()), 0);
}

void tst_Fleet::programMissing()
{
    FleetSettings settings = fakeSettings({}, FleetAnswer::Yes, 1);
    settings.program = QStringLiteral("/nonexistent/vxupgrade-cli");
    FleetRun run(settings, {"127.0.0.2", "127.0.0.3"}, nullptr);
    run.start();
    QVERIFY(waitFinished(run));
    QCOMPARE(outcomes(run), (QStringList{"failed", "failed"}));
    QVERIFY2(run.instruments()[1].message.startsWith(QStringLiteral("could not start")),
             qPrintable(run.instruments()[1].message));
    QCOMPARE(fleetExitStatus(run.instruments()), 1);
}

void tst_Fleet::plainConsole()
{
    // As under --json off a terminal: records alone on one stream.
    FleetConsole::Streams streams{std::tmpfile(), std::tmpfile(), std::tmpfile(), std::tmpfile()};
    QVERIFY(streams.memo && streams.err && streams.records && streams.table);
    {
        FleetRun run(fakeSettings({"127.0.0.2=hang", "127.0.0.3=fail"}), {"127.0.0.2", "127.0.0.3"}, nullptr);
        FleetConsole console(run, streams, false, nullptr);
        run.start();
        QTRY_VERIFY_WITH_TIMEOUT(hasEnded(run.instruments()[1].outcome)
                                     && run.instruments()[0].step == QLatin1String("module"),
                                 WaitMs);
        run.stop();
        QVERIFY(waitFinished(run));
        console.finish();
    }
    const QByteArray memo = readAll(streams.memo);
    const QByteArray boxes = readAll(streams.err);
    const QList<QByteArray> records = readAll(streams.records).split('\n');
    const QByteArray table = readAll(streams.table);
    for (std::FILE *stream : {streams.memo, streams.err, streams.records, streams.table})
        std::fclose(stream);

    QCOMPARE(memo.count("[127.0.0.2] waiting\n"), 1);
    QCOMPARE(boxes.count("[127.0.0.3] [error box] vxUpgrade\n[127.0.0.3]     Upload failed\n"), 1);
    QVERIFY2(boxes.contains("[127.0.0.3] ended: failed: Fail to download F/W !\n"), boxes.constData());
    // In the order the runs ended, one line each.
    QCOMPARE(records.size(), 3);
    QCOMPARE(QJsonDocument::fromJson(records[0]).object().value("address").toString(), QStringLiteral("127.0.0.3"));
    QCOMPARE(QJsonDocument::fromJson(records[1]).object().value("outcome").toString(), QStringLiteral("stopped"));
    QVERIFY2(table.contains("127.0.0.2") && table.contains("stopped by the operator"), table.constData());
}

void tst_Fleet::messageWithDetail_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("joined");
    QTest::newRow("no detail") << "Declined at the low-space question." << "" << "Declined at the low-space question.";
    QTest::newRow("a sentence ends first")
        << "Declined at the low-space question." << "no --yes given" << "Declined at the low-space question. No --yes given.";
    QTest::newRow("a box's text, blank at its end") << "Fail to download F/W !\n\nVX900 file system might be full. "
                                                    << "lost the link!" << "Fail to download F/W !\n\nVX900 file system might be full. Lost the link!";
    QTest::newRow("no sentence yet") << "crashed (signal 9, Killed)" << "lost the link." << "crashed (signal 9, Killed): lost the link.";
    QTest::newRow("nothing said") << "" << "no --yes given" << "no --yes given";
}

void tst_Fleet::messageWithDetail()
{
    QFETCH(QString, what);
    QFETCH(QString, detail);
    QTEST(joinDetail(what, detail), "joined");
}

QTEST_GUILESS_MAIN(tst_Fleet)
#include "tst_fleet.moc"

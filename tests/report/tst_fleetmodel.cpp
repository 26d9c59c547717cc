#include "report/FleetModel.h"
#include "report/FleetPage.h"

#include <QJsonArray>
#include <QtTest>

using report::RowState;
using upgrade::RunRecord;

namespace {

const QDateTime Now = QDateTime(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);

QString identityOf(const QString &serial)
{
    return QStringLiteral("ALVO,VX900,%1,2.%2").arg(serial).arg(serial.size());
}

// A run of `kind` ("upgrade", "failed", "audit-clean", "audit-changed",
// "audit-unmade", "dry", "declined", "unconfirmed", "confirmed",
// "unreached") `daysAgo` days before Now.
RunRecord run(const QString &serial, const QString &kind, int daysAgo, const QString &address = "10.0.0.1")
{
    RunRecord r;
    r.started = Now.addDays(-daysAgo);
    r.address = address;
    r.identity = kind == "unreached" ? QString() : identityOf(serial);
    r.kitDigest = QByteArray("ab").repeated(32);
    r.outcome = "succeeded";
    r.message = kind;
    r.files.append(upgrade::RecordedFile{"/F0:/KRN3/a.bin", 4, "00", upgrade::FileOutcome::SentVerified});
    if (kind == "failed" || kind == "unreached") {
        r.outcome = "failed";
        r.files.first().outcome = upgrade::FileOutcome::Failed;
    } else if (kind == "declined") {
        r.outcome = "declined";
    } else if (kind == "dry") {
        r.dryRun = true;
    } else if (kind == "unconfirmed") {
        r.reboot = "not confirmed: it did not come back";
    } else if (kind == "confirmed") {
        r.reboot = "confirmed";
    } else if (kind.startsWith("audit")) {
        const bool clean = kind == "audit-clean";
        r.audit = QJsonObject{{"counts", QJsonObject{{"matches", clean ? 1 : 0}, {"differs", clean ? 0 : 1}}},
                              {"clean", clean},
                              {"notMatching", clean ? QJsonArray() : QJsonArray{QJsonObject{{"path", "/F0:/KRN3/a.bin"}, {"verdict", "differs"}}}}};
        if (kind == "audit-unmade") {
            r.outcome = "failed";
            r.audit = QJsonObject{{"counts", QJsonObject{}}, {"clean", false}, {"problem", "listing refused"}};
        }
    }
    return r;
}

report::FleetView viewOf(const QList<RunRecord> &records, const QDateTime &since = {})
{
    report::FleetModel model(Now, since);
    for (const RunRecord &r : records)
        model.add(r);
    return model.view();
}

} // namespace

Q_DECLARE_METATYPE(RowState)

class TestFleetModel : public QObject
{
    Q_OBJECT

private slots:
    // The latest word on the drive decides, in whatever order the runs are
    // read (histories of several PCs come in any order).
    void stateOfARow_data()
    {
        QTest::addColumn<QStringList>("kinds"); // oldest first, one day apart
        QTest::addColumn<RowState>("state");
        QTest::newRow("upgraded") << QStringList{"upgrade"} << RowState::UpToDate;
        QTest::newRow("restart confirmed") << QStringList{"confirmed"} << RowState::UpToDate;
        QTest::newRow("restart not confirmed") << QStringList{"unconfirmed"} << RowState::NotConfirmed;
        QTest::newRow("failed after success") << QStringList{"upgrade", "failed"} << RowState::Failed;
        QTest::newRow("success after failure") << QStringList{"failed", "upgrade"} << RowState::UpToDate;
        QTest::newRow("audit found changes") << QStringList{"upgrade", "audit-changed"} << RowState::Drifted;
        QTest::newRow("clean audit after failure") << QStringList{"failed", "audit-clean"} << RowState::UpToDate;
        QTest::newRow("upgrade after drift") << QStringList{"audit-changed", "upgrade"} << RowState::UpToDate;
        QTest::newRow("unmade audit says nothing") << QStringList{"audit-changed", "audit-unmade"} << RowState::Drifted;
        QTest::newRow("dry runs and declines say nothing") << QStringList{"failed", "dry", "declined"} << RowState::Failed;
        QTest::newRow("only a dry run") << QStringList{"dry"} << RowState::Unknown;
        QTest::newRow("unreached after success: placed by address") << QStringList{"upgrade", "unreached"} << RowState::Failed;
    }

    void stateOfARow()
    {
        QFETCH(QStringList, kinds);
        QFETCH(RowState, state);
        QList<RunRecord> records;
        for (qsizetype i = 0; i < kinds.size(); ++i)
            records.append(run("S1", kinds[i], int(kinds.size() - i)));
        for (const bool reversed : {false, true}) {
            const QList<RunRecord> order = reversed ? QList<RunRecord>(records.crbegin(), records.crend()) : records;
            const report::FleetView view = viewOf(order);
            QCOMPARE(view.rows.size(), 1);
            QCOMPARE(view.rows[0].state, state);
            QCOMPARE(view.rows[0].runs, kinds.size());
        }
    }

    void rowsSummaryAndTimeline()
    {
        QList<RunRecord> records;
        // S1: upgraded on two addresses, a signed kit; 40 runs, more than a timeline holds.
        for (int day = 40; day > 0; --day)
            records.append(run("S1", day % 10 == 0 ? "failed" : "upgrade", day, day > 20 ? "10.0.0.1" : "10.0.0.9"));
        records.last().signerKey = "0123456789abcdef";
        records.last().signerComment = "VX900 kits";
        // S2: last seen 45 days ago, on another kit; an unreached run at an
        // address two instruments used stands on its own.
        records.append(run("S2", "upgrade", 45, "10.0.0.2"));
        records.last().kitDigest = QByteArray("cd").repeated(32);
        records.append(run("S3", "dry", 50, "10.0.0.2"));
        records.append(run("", "unreached", 3, "10.0.0.2"));
        records.append(run("S1", "audit-changed", 100, "10.0.0.1"));

        const report::FleetView view = viewOf(records);
        QCOMPARE(view.rows.size(), 4);
        const report::InstrumentRow &s1 = view.rows[1]; // after "10.0.0.2"
        QCOMPARE(s1.key, QStringLiteral("ALVO,VX900,S1"));
        QCOMPARE(s1.addresses, (QStringList{"10.0.0.1", "10.0.0.9"}));
        QCOMPARE(s1.runs, 41);
        QCOMPARE(s1.failures, 4);
        QCOMPARE(s1.signerComment, QStringLiteral("VX900 kits"));
        QCOMPARE(s1.kitSince, Now.addDays(-1));
        QCOMPARE(s1.kitVerified, QStringLiteral("1 of 1 files verified"));
        QCOMPARE(s1.lastAudit->verdict, QStringLiteral("found changes"));
        QCOMPARE(s1.timeline.size(), report::FleetModel::MaxTimeline);
        QCOMPARE(s1.timeline.first().started, Now.addDays(-1));
        QCOMPARE(s1.timeline.last().started, Now.addDays(-report::FleetModel::MaxTimeline));
        QCOMPARE(s1.earlierRuns, 41 - report::FleetModel::MaxTimeline);
        QCOMPARE(view.rows[0].key, QStringLiteral("10.0.0.2"));
        QCOMPARE(view.rows[0].state, RowState::Failed);

        QCOMPARE(view.kits.size(), 2);
        QCOMPARE(view.kits[0].instruments, 1);
        QCOMPARE(view.recentRuns, 31); // S1's 30 days, the unreached run
        QCOMPARE(view.recentFailures, 4);
        QCOMPARE(view.recentAuditsWithChanges, 0);
        QCOMPARE(view.notSeen, (QStringList{"10.0.0.2", "ALVO,VX900,S2", "ALVO,VX900,S3"}));

        // --json: the same model.
        const QJsonObject json = view.toJson();
        const QJsonArray rows = json.value("instruments").toArray();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0].toObject().value("state").toString(), QStringLiteral("failed"));
        QCOMPARE(rows[1].toObject().value("kit").toObject().value("signerComment").toString(), QStringLiteral("VX900 kits"));
        QCOMPARE(rows[1].toObject().value("timeline").toArray().size(), report::FleetModel::MaxTimeline);
        QCOMPARE(json.value("recentFailures").toInt(), 4);

        const report::FleetView recent = viewOf(records, Now.addDays(-5));
        QCOMPARE(recent.rows.size(), 2);
        QCOMPARE(recent.rows[1].runs, 5);
        QCOMPARE(recent.kits.size(), 1);
    }

    // An instrument's reply and a history's fields are text from outside.
    void outsideTextIsShownAsText_data()
    {
        QTest::addColumn<QString>("outside");
        QTest::addColumn<QString>("shown");
        QTest::newRow("script") << "<script>alert(1)</script>" << "&lt;script&gt;alert(1)&lt;/script&gt;";
        QTest::newRow("attribute break-out") << "\"><img src=x onerror=alert(1)>"
                                             << "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;";
        QTest::newRow("control characters") << "a\x1b[31mb\r\nc\u202Ed" << "a[31mb  cd";
        QTest::newRow("ampersand") << "R&D" << "R&amp;D";
    }

    void outsideTextIsShownAsText()
    {
        QFETCH(QString, outside);
        QFETCH(QString, shown);
        QCOMPARE(report::HtmlText(outside), shown);

        RunRecord hostile = run("S1", "upgrade", 1);
        hostile.identity = "ALVO,VX900," + outside + ",1.0";
        hostile.message = outside;
        hostile.signerKey = "01";
        hostile.signerComment = outside;
        hostile.address = outside;
        const QByteArray page = report::FleetPage(viewOf({hostile}));
        QVERIFY(page.contains(shown.toUtf8()));
        QVERIFY(!page.contains(outside.toUtf8()) || outside == shown);
        QVERIFY(!page.contains("<img") && !page.contains("<script"));
    }
};

QTEST_GUILESS_MAIN(TestFleetModel)
#include "tst_fleetmodel.moc"

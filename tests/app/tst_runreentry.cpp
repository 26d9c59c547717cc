// Copy, Quit and the title-bar close while a run is under way. The FTP
// client pumps events while it waits, so these handlers run in the middle of
// an upload; this test also runs under AddressSanitizer (see test.sh), which
// catches the catalogue or the link being released under the run.
#include "TestMain.h"
#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const QString SuccessText = QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900.");

// Runs `action` once, from inside the first upload of a module file: the
// timer is posted when its memo line is written and fires at the FTP
// client's first pump.
void duringFirstModuleUpload(TfrmMain &window, std::function<void()> action, bool &fired)
{
    auto posted = std::make_shared<bool>(false);
    QPlainTextEdit *memo = controls(window).mmStatus;
    QObject::connect(memo, &QPlainTextEdit::textChanged, &window, [memo, &window, posted, action, &fired] {
        if (*posted || !memo->toPlainText().contains("Copying... "))
            return;
        *posted = true;
        QTimer::singleShot(0, &window, [&window, action, &fired] {
            fired = window.runInProgress();
            action();
        });
    });
}

// A window on a one-module catalogue, its address set to the simulator's.
std::unique_ptr<TfrmMain> windowFor(const SimInstrument &sim, ProgramFolder &folder)
{
    folder.writeIni({{3, "KRN3", 0}});
    auto window = std::make_unique<TfrmMain>(folder.path(), sim.ports());
    window->ipAddressText = QStringLiteral("127.0.0.1");
    window->show();
    return window;
}

struct ReentryRig
{
    SimInstrument sim;
    ProgramFolder folder;
    std::unique_ptr<TfrmMain> window;

    bool start()
    {
        if (!sim.start())
            return false;
        for (int i = 0; i < 6; ++i)
            folder.write(QStringLiteral("target/KRN3/f%1").arg(i), sampleBytes(200000, i));
        folder.write("MainFrame/m", "m");
        window = windowFor(sim, folder);
        return true;
    }
    [[nodiscard]] qsizetype moduleFilesOnDrive() const { return sim.files().filter("KRN3/").size(); }
    [[nodiscard]] qsizetype commandConnections() const
    {
        qsizetype count = 0;
        for (const QJsonObject &record : sim.transcript())
            count += record["chan"].toString() == "cmd" && record["text"].toString() == "connect";
        return count;
    }
};

} // namespace

class TestRunReentry : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyDuringARunIsIgnored()
    {
        ReentryRig rig;
        QVERIFY2(rig.start(), qPrintable(rig.sim.errorString()));
        bool fired = false;
        bool copyEnabledDuringRun = true;
        duringFirstModuleUpload(*rig.window, [&] {
            copyEnabledDuringRun = controls(*rig.window).btnCopy->isEnabled();
            pressCopy(*rig.window);
            rig.window->btnCopyClick(); // also a call that does not come from the button
        }, fired);
        BoxLog boxes;
        pressCopy(*rig.window);

        QVERIFY(fired);
        QVERIFY(!copyEnabledDuringRun);
        QCOMPARE(boxes.texts(), QStringList{SuccessText});
        QCOMPARE(memoLines(controls(*rig.window).mmStatus).count("Connecting VX900 ..."), 1);
        QCOMPARE(rig.commandConnections(), 1);
        QCOMPARE(rig.moduleFilesOnDrive(), 6);
        QVERIFY(!rig.window->isVisible());
    }

    // Quit or the close button in the middle of an upload stops the run at
    // once, closes the link, then the window; no box of the run follows.
    void quitOrCloseDuringAnUploadStopsTheRun_data()
    {
        QTest::addColumn<bool>("byQuit");
        QTest::newRow("Quit") << true;
        QTest::newRow("title-bar close") << false;
    }

    void quitOrCloseDuringAnUploadStopsTheRun()
    {
        QFETCH(bool, byQuit);
        ReentryRig rig;
        QVERIFY2(rig.start(), qPrintable(rig.sim.errorString()));
        bool fired = false;
        bool stillOpenAfterRequest = false;
        duringFirstModuleUpload(*rig.window, [&] {
            if (byQuit)
                QTest::mouseClick(controls(*rig.window).btnQuit, Qt::LeftButton);
            else
                rig.window->close();
            // The run still holds the catalogue and the link: neither may go
            // before it has unwound.
            stillOpenAfterRequest = rig.window->linkForm && rig.window->moduleList;
        }, fired);
        BoxLog boxes;
        pressCopy(*rig.window);

        QVERIFY(fired);
        QVERIFY(stillOpenAfterRequest);
        QVERIFY(!rig.window->isVisible());
        QVERIFY(!rig.window->linkForm && !rig.window->moduleList);
        QVERIFY(!rig.window->runInProgress());
        // The operator asked for the stop: no "Upload failed", no box at all.
        QCOMPARE(boxes.texts(), QStringList{});
        QVERIFY(!memoLines(controls(*rig.window).mmStatus).contains("Copy completed!"));
        QVERIFY(rig.moduleFilesOnDrive() < 6);
        QVERIFY(!rig.sim.files().contains("SYSTEM/m"));
    }

    // Quit or a close asked for while one of the run's boxes is up leaves
    // the link and the catalogue to the run, and takes effect when the box is
    // closed, also where the run itself would have kept the window.
    void closeWhileABoxIsUp_data()
    {
        QTest::addColumn<bool>("byQuit");
        QTest::newRow("Quit") << true;
        QTest::newRow("title-bar close") << false;
    }

    void closeWhileABoxIsUp()
    {
        QFETCH(bool, byQuit);
        SimInstrument sim({"--refuse-root"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        auto window = windowFor(sim, folder);
        BoxLog boxes;
        bool keptForTheRun = false;
        boxes.whileShown = [&](const BoxLog::Box &) {
            if (byQuit)
                QTest::mouseClick(controls(*window).btnQuit, Qt::LeftButton);
            else
                QVERIFY(!window->close());
            keptForTheRun = window->isVisible() && window->linkForm && window->moduleList;
        };
        pressCopy(*window);

        QVERIFY(keptForTheRun);
        QCOMPARE(boxes.texts(), QStringList{"VX900's File System was damaged!"});
        QVERIFY(!window->isVisible());
        QVERIFY(!window->linkForm && !window->moduleList);
        QCOMPARE(sim.sent("ftp").last(), QString("QUIT"));
    }

    // The link's QUIT wait keeps the event loop turning while the window
    // closes. Quit and Copy pressed then, by the mouse or by a call, change
    // nothing: the window closes once, QUIT goes out once, and no second
    // run starts on the catalogue on its way out.
    void quitAndCopyWhileTheLinkCloses()
    {
        SimInstrument sim({"--idn", "ACME,SG100,1,1.0", "--quit-delay", "1"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        auto owned = windowFor(sim, folder);
        TfrmMain &window = *owned;
        BoxLog boxes;
        pressCopy(window);
        QCOMPARE(boxes.texts(), QStringList{"This instrument is not a VX900.\n\nCan not continue."});
        QVERIFY(window.isVisible());

        bool firedWhileClosing = false;
        QTimer::singleShot(0, &window, [&] {
            firedWhileClosing = window.closing() && window.isVisible();
            QTest::mouseClick(controls(window).btnQuit, Qt::LeftButton);
            window.btnQuitClick();
            pressCopy(window);
            window.btnCopyClick();
        });
        QTest::mouseClick(controls(window).btnQuit, Qt::LeftButton);

        QVERIFY(firedWhileClosing);
        QVERIFY(!window.isVisible());
        QVERIFY(!window.linkForm && !window.moduleList);
        QCOMPARE(sim.sent("ftp").count("QUIT"), 1);
        QCOMPARE(sim.sent("cmd").count("*IDN?"), 1);
        QCOMPARE(boxes.texts().size(), 1);
    }
};

VX_TEST_MAIN(TestRunReentry)
#include "tst_runreentry.moc"

// The whole upgrade run: the real window on the offscreen platform, the
// instrument simulator as the instrument, every box answered by the test.
#include "TestMain.h"
#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include <QCheckBox>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

namespace {

const QString Caption = QStringLiteral("VX900 Upgrade");
const QString SuccessText = QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900.");
const QString DownloadFailed = QStringLiteral("Fail to download F/W !\n\nVX900 file system might be full.");
const QString MidFailed = QStringLiteral("Fail to make MID files !\n\nVX900 file system might be full.");
const QString CantConnect = QStringLiteral("Can't connect VX900.\n\nPlease check IP address.");
const QString Damaged = QStringLiteral("VX900's File System was damaged!");
const QString LowSpacePrompt = QStringLiteral("There is not enough space to upgrade VX900.\n\n"
                                              "The signals of PRZ53/KRN3 are overwritten with compressed signals.\n\n"
                                              "Click YES to continue?");

// Fills the folder with `files` (content seeded by position) and returns
// the window made on it, its address set to the simulator's host.
std::unique_ptr<TfrmMain> windowOn(const SimInstrument &sim, ProgramFolder &folder, const QStringList &files,
                                   int sizeStep = 1000)
{
    for (int i = 0; i < files.size(); ++i)
        folder.write(files[i], sampleBytes(qsizetype(sizeStep) * (i + 1), i));
    auto window = std::make_unique<TfrmMain>(folder.path(), sim.ports());
    window->ipAddressText = QStringLiteral("127.0.0.1");
    window->show();
    return window;
}

// Every drive file but the NAME files must be the byte-identical copy of its
// fixture file.
bool sameBytes(const SimInstrument &sim, const ProgramFolder &folder, const QStringList &driveFiles)
{
    for (const QString &driveFile : driveFiles) {
        if (driveFile.endsWith(QLatin1String("/NAME")))
            continue;
        QFile local(folder.path() + sourceOf(driveFile));
        if (!local.open(QIODevice::ReadOnly) || local.readAll() != sim.file(QStringLiteral("/F0:/") + driveFile)) {
            qWarning("differs: %s", qPrintable(driveFile));
            return false;
        }
    }
    return true;
}

qsizetype indexOf(const QStringList &lines, const QString &line, qsizetype from = 0)
{
    return lines.indexOf(line, from);
}

// Boxes of the run's own space question.
bool isSpaceQuestion(const QString &text)
{
    return text.startsWith(QLatin1String("The upgrade needs "));
}

// The window after a run that ended by closing it.
bool closedForGood(const TfrmMain &window)
{
    return !window.isVisible() && !window.linkForm && !window.moduleList;
}

} // namespace

class TestUpgradeRun : public QObject
{
    Q_OBJECT

private slots:
    void wholeRunCopiesEverythingInOrder()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/krn.bin", "target/KRN3/SIGNAL/sig1.dat",
                                        "target/KRN3/sub/deep.txt", "target/LPS3/lps.bin",
                                        "target/LPS3/SIGNAL/sig2.dat", "MainFrame/main.exe",
                                        "MainFrame/cfg/setup.ini"});
        QVERIFY(controls(*window).cbKRN3->isEnabled());
        controls(*window).cbKRN3->click();

        QList<int> bar;
        QList<Qt::CursorShape> pointer;
        connect(controls(*window).ProgressBar, &QProgressBar::valueChanged, window.get(), [&](int value) {
            bar.append(value);
            pointer.append(window->cursor().shape());
        });
        BoxLog boxes;
        pressCopy(*window);

        QCOMPARE(boxes.texts(), QStringList{SuccessText});
        QCOMPARE(boxes.shown[0].caption, Caption);
        QCOMPARE(boxes.shown[0].flags, 64);
        QCOMPARE(memoWithCopyRunsSorted(controls(*window).mmStatus),
                 (QStringList{"Connecting VX900 ...", "Copying ALL modules ...", "** KRN3",
                              "Copying... deep.txt", "Copying... krn.bin", "Copying... sig1.dat", "** LPS3",
                              "Copying... lps.bin", "", "Copying System files ...", "Copying... main.exe",
                              "Copying... setup.ini",
                              "Verified each folder by the FTP server's listing (MLSD).", "Copy completed!"}));

        const QStringList expected{"KRN3/SIGNAL/sig1.dat", "KRN3/krn.bin",       "KRN3/sub/deep.txt",
                                   "LPS3/lps.bin",         "SYSTEM/MID3/NAME",   "SYSTEM/MID5/NAME",
                                   "SYSTEM/cfg/setup.ini", "SYSTEM/main.exe"};
        QCOMPARE(sim.files(), expected);
        QVERIFY(sameBytes(sim, folder, expected));
        QCOMPARE(sim.file("/F0:/SYSTEM/MID3/NAME"), QByteArray("KRN3\r\n"));
        QCOMPARE(sim.file("/F0:/SYSTEM/MID5/NAME"), QByteArray("LPS3\r\n"));

        // The bar follows the bytes the kit check planned (LPS3's unticked
        // SIGNAL is not among them), so the last copy takes it to its
        // maximum; the pointer is busy throughout.
        QVERIFY(std::is_sorted(bar.cbegin(), bar.cend()));
        QCOMPARE(bar.last(), 100);
        QCOMPARE(controls(*window).ProgressBar->value(), 100);
        QCOMPARE(pointer.last(), Qt::WaitCursor);
        QVERIFY(closedForGood(*window));

        // NAME files travel as text, the copies as image; the link closes last.
        const QStringList ftp = sim.sent("ftp");
        const qsizetype typeA = indexOf(ftp, "TYPE A");
        const qsizetype typeI = indexOf(ftp, "TYPE I");
        QVERIFY(typeA >= 0 && typeI > typeA);
        QVERIFY(indexOf(ftp, "STOR /F0:/SYSTEM/MID3/NAME") > typeA);
        QVERIFY(indexOf(ftp, "STOR /F0:/SYSTEM/MID5/NAME") < typeI);
        QVERIFY(indexOf(ftp, "STOR /F0:/KRN3/krn.bin") > typeI);
        QCOMPARE(ftp.last(), QString("QUIT"));
        const QStringList cmd = sim.sent("cmd");
        const qsizetype idn = indexOf(cmd, "*IDN?");
        const qsizetype root = indexOf(cmd, ":MMEM:CDIR \"/F0:/\"");
        const qsizetype space = indexOf(cmd, "MMEM:CAT? \"/F0:/\"");
        const qsizetype mid = indexOf(cmd, ":MMEM:CDIR \"/F0:/SYSTEM/MID3\"");
        QVERIFY(idn == 0 && root > idn && space > root && mid > space);
    }

    // The field's three-digit places invite zeros, which once read as octal
    // ("127.000.000.010" reached 127.0.0.8). Groups are decimal; text outside
    // the form is Connect's box, with nothing sent to any instrument.
    void typedAddressReachesTheInstrumentItNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");
        QTest::newRow("zero-padded, the instrument") << "127.000.000.008" << SuccessText;
        QTest::newRow("zero-padded, another address") << "127.000.000.010" << CantConnect;
        QTest::newRow("a group above 255") << "127.0.0.264" << CantConnect;
        QTest::newRow("a group left empty") << "127.0.0." << CantConnect;
    }

    void typedAddressReachesTheInstrumentItNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, box);
        SimInstrument sim({"--host", "127.0.0.8"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/a"});
        window->ipAddressText = typed;
        BoxLog boxes;
        pressCopy(*window);
        QCOMPARE(boxes.texts().value(0), box);
        const bool reached = box == SuccessText;
        QCOMPARE(sim.file("/F0:/KRN3/a").size(), reached ? 1000 : 0);
        QCOMPARE(sim.lines("cmd", "event").isEmpty() && sim.lines("ftp", "event").isEmpty(), !reached);
    }

    // Connect and ChangeDirectory failing leave the window open, the memo at
    // its first line, the pointer as it was and Copy ready for another run.
    void earlyEndsKeepTheWindowOpen_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("secondAddress");
        QTest::addColumn<QString>("secondBox");
        // Nothing listens on 127.0.0.2: the simulator takes 127.0.0.1 only.
        QTest::newRow("wrong address, then the right one")
            << QStringList{} << "127.0.0.2" << CantConnect << "127.0.0.1" << SuccessText;
        QTest::newRow("root refused, twice") << QStringList{"--refuse-root"} << "127.0.0.1" << Damaged << "127.0.0.1"
                                             << Damaged;
    }

    void earlyEndsKeepTheWindowOpen()
    {
        QFETCH(QStringList, simOptions);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/a"});
        QFETCH(QString, address);
        window->ipAddressText = address;
        QFETCH(QString, box);
        {
            BoxLog boxes;
            pressCopy(*window);
            QCOMPARE(boxes.texts(), QStringList{box});
            QCOMPARE(boxes.shown[0].flags, 16);
        }
        QCOMPARE(memoLines(controls(*window).mmStatus), QStringList{"Connecting VX900 ..."});
        QVERIFY(window->isVisible() && window->linkForm && window->moduleList);
        QVERIFY(controls(*window).btnCopy->isEnabled());
        QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(sim.files().isEmpty());

        QFETCH(QString, secondAddress);
        QFETCH(QString, secondBox);
        window->ipAddressText = secondAddress;
        BoxLog boxes;
        pressCopy(*window);
        QCOMPARE(boxes.texts(), QStringList{secondBox});
        QCOMPARE(memoLines(controls(*window).mmStatus).first(), QString("Connecting VX900 ..."));
        QCOMPARE(sim.sent("cmd").count("*IDN?"), address == secondAddress ? 2 : 1);
        QCOMPARE(sim.file("/F0:/KRN3/a").size(), secondBox == SuccessText ? 1000 : 0);
    }

    void lowSpace_data()
    {
        QTest::addColumn<QString>("free");
        QTest::addColumn<QStringList>("ticked");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("prompted");
        QTest::addColumn<bool>("krnSignalCopied");

        const int yes = platform::IDYES, no = platform::IDNO;
        QTest::newRow("low, QMX53 ticked, yes forces KRN3")
            << "4718591" << QStringList{"QMX53"} << yes << true << true;
        QTest::newRow("low, LPS3 ticked, yes") << "0" << QStringList{"LPS3"} << yes << true << true;
        QTest::newRow("low, neither ticked: no prompt") << "4718591" << QStringList{"KRN3"} << no << false << true;
        QTest::newRow("low, nothing ticked: no prompt") << "4718591" << QStringList{} << no << false << false;
        QTest::newRow("exactly the threshold: no prompt")
            << "4718592" << QStringList{"QMX53", "LPS3"} << no << false << false;
        QTest::newRow("past 4 GiB is not low") << "4294967396" << QStringList{"QMX53"} << no << false << false;
    }

    void lowSpace()
    {
        QFETCH(QString, free);
        QFETCH(QStringList, ticked);
        QFETCH(int, answer);
        QFETCH(bool, prompted);
        SimInstrument sim({"--free", free});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}, {6, "QMX53", 0}, {7, "PRZ53", 0}});
        // PRZ53 has no SIGNAL folder: its box is disabled and stays so.
        auto window = windowOn(sim, folder, {"target/KRN3/SIGNAL/k", "target/LPS3/SIGNAL/l", "target/QMX53/SIGNAL/q",
                                        "target/PRZ53/p"});
        for (QCheckBox *box : {controls(*window).cbKRN3, controls(*window).cbLPS3, controls(*window).cbQMX53}) {
            if (ticked.contains(box->text()))
                box->click();
        }
        QVERIFY(!controls(*window).cbPRZ53->isEnabled());

        BoxLog boxes;
        bool krnLockedAtPrompt = false;
        boxes.answer = [&](const BoxLog::Box &box) {
            return box.flags == 36 ? answer : int(platform::IDOK);
        };
        boxes.whileShown = [&](const BoxLog::Box &box) {
            if (box.text == SuccessText)
                krnLockedAtPrompt = !controls(*window).cbKRN3->isEnabled() && controls(*window).cbKRN3->isChecked();
        };
        pressCopy(*window);

        QCOMPARE(boxes.texts().contains(LowSpacePrompt), prompted);
        QCOMPARE(boxes.texts().last(), SuccessText);
        QCOMPARE(krnLockedAtPrompt, prompted);
        QCOMPARE(sim.file("/F0:/PRZ53/p").size(), 4000);
        QCOMPARE(sim.files().contains("PRZ53/SIGNAL/p"), false);
        QTEST(sim.files().contains("KRN3/SIGNAL/k"), "krnSignalCopied");
        QVERIFY(closedForGood(*window));
    }

    // The phases are entered by the files the trees hold, sent or not: with
    // only unticked SIGNAL files every module folder is still made.
    void phasesFollowTheMeasuredTrees_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("memo");
        const QString nothingSent = "Nothing from the kit was sent: it holds no file to copy "
                                    "(a module's SIGNAL folder goes only when its box is ticked).";
        QTest::newRow("only unticked SIGNAL files")
            << QStringList{"target/KRN3/SIGNAL/k", "target/LPS3/SIGNAL/l"}
            << QStringList{"Connecting VX900 ...", "Copying ALL modules ...", "** KRN3", "** LPS3", "",
                           "Copying System files ...", nothingSent, "Copy completed!"};
        QTest::newRow("no file at all")
            << QStringList{} << QStringList{"Connecting VX900 ...", nothingSent, "Copy completed!"};
    }

    void phasesFollowTheMeasuredTrees()
    {
        QFETCH(QStringList, files);
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        auto window = windowOn(sim, folder, files);
        BoxLog boxes;
        pressCopy(*window);

        QCOMPARE(boxes.texts(), QStringList{SuccessText});
        QTEST(memoLines(controls(*window).mmStatus), "memo");
        QCOMPARE(sim.files(), (QStringList{"SYSTEM/MID3/NAME", "SYSTEM/MID5/NAME"}));
        const QStringList made = sim.sent("cmd").filter("MDIR");
        QCOMPARE(made.filter("\"KRN3\"").size() + made.filter("\"LPS3\"").size(), files.isEmpty() ? 0 : 2);
        QCOMPARE(controls(*window).ProgressBar->value(), 100);
    }

    // A box ticked while an earlier module is being copied counts for the
    // modules not yet copied.
    void boxTickedDuringTheCopy()
    {
        SimInstrument sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/k1", "target/KRN3/k2", "target/KRN3/SIGNAL/ks",
                                        "target/LPS3/l", "target/LPS3/SIGNAL/ls"});
        QCheckBox *lps3 = controls(*window).cbLPS3;
        QVERIFY(lps3->isEnabled() && !lps3->isChecked());
        connect(controls(*window).ProgressBar, &QProgressBar::valueChanged, window.get(), [&] {
            if (!lps3->isChecked() && !sim.files().contains("LPS3/l"))
                lps3->click();
        });
        BoxLog boxes;
        pressCopy(*window);

        QCOMPARE(boxes.texts(), QStringList{SuccessText});
        QCOMPARE(sim.files(), (QStringList{"KRN3/k1", "KRN3/k2", "LPS3/SIGNAL/ls", "LPS3/l", "SYSTEM/MID3/NAME",
                                           "SYSTEM/MID5/NAME"}));
        QVERIFY(sameBytes(sim, folder, sim.files()));
    }

    // A log-in refused inside a run: the FTP client's error, with the
    // server's reply, ends it; nothing else is asked, the window stays open.
    void refusedLoginEndsTheRunWithTheWindowOpen()
    {
        SimInstrument sim({"--refuse-login"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/k"});
        BoxLog boxes;
        pressCopy(*window);

        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY2(boxes.texts()[0].contains("530"), qPrintable(boxes.texts()[0]));
        QCOMPARE(memoLines(controls(*window).mmStatus), QStringList{"Connecting VX900 ..."});
        QVERIFY(!sim.sent("cmd").contains("*IDN?"));
        QVERIFY(sim.sent("ftp").filter("STOR").isEmpty());
        QVERIFY(window->isVisible() && window->linkForm && window->moduleList);
        QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(controls(*window).btnCopy->isEnabled());
    }

    // The low-space question as before; the run's own question only when the
    // bytes to send, less the instrument files they replace, exceed the free
    // space, and never after a Yes to the low-space question.
    void spaceCheck_data()
    {
        QTest::addColumn<QString>("free");
        QTest::addColumn<bool>("qmxTicked");
        QTest::addColumn<int>("kitBytes"); // of target/KRN3/k; QMX53's signal adds 1000
        QTest::addColumn<bool>("rerun");   // the drive already holds the kit's files
        QTest::addColumn<bool>("lowSpaceAsked");
        QTest::addColumn<bool>("spaceAsked");
        QTest::addColumn<QString>("memoFragment"); // "" for none

        const int small = 10000, big = 5000000;
        const QString asAnswered = "going on, as answered";
        QTest::newRow("4718592, ticked, small kit") << "4718592" << true << small << false << false << false << "";
        QTest::newRow("4718591, ticked, small kit") << "4718591" << true << small << false << true << false << "";
        QTest::newRow("4718592, unticked, small kit") << "4718592" << false << small << false << false << false << "";
        QTest::newRow("4718591, unticked, small kit") << "4718591" << false << small << false << false << false << "";
        QTest::newRow("4718591, ticked, small kit, rerun") << "4718591" << true << small << true << true << false << "";
        QTest::newRow("4718591, unticked, big kit, rerun") << "4718591" << false << big << true << false << false << "";
        QTest::newRow("4718591, ticked, big kit, rerun") << "4718591" << true << big << true << true << false << "";
        QTest::newRow("4718592, ticked, big kit") << "4718592" << true << big << false << false << true << "";
        QTest::newRow("4718591, unticked, big kit") << "4718591" << false << big << false << false << true << "";
        QTest::newRow("4718591, ticked, big kit: one line, no second question")
            << "4718591" << true << big << false << true << false << asAnswered;
        QTest::newRow("negative: unknown, no question")
            << "-5" << true << big << false << false << false << "which says nothing";
    }

    void spaceCheck()
    {
        QFETCH(QString, free);
        QFETCH(bool, qmxTicked);
        QFETCH(int, kitBytes);
        QFETCH(bool, rerun);
        QTemporaryDir drive;
        QVERIFY(drive.isValid());
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {6, "QMX53", 0}});
        const QByteArray module = sampleBytes(kitBytes, 1), signal = sampleBytes(1000, 2);
        folder.write("target/KRN3/k", module);
        folder.write("target/QMX53/SIGNAL/q", signal);
        if (rerun) {
            QVERIFY(QDir(drive.path()).mkpath("F0:/KRN3") && QDir(drive.path()).mkpath("F0:/QMX53/SIGNAL"));
            for (const auto &[path, bytes] : {std::pair{"F0:/KRN3/k", module}, std::pair{"F0:/QMX53/SIGNAL/q", signal}}) {
                QFile file(drive.filePath(path));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            }
        }
        SimInstrument sim({"--drive", drive.path(), "--free", free});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        auto window = windowOn(sim, folder, {});
        if (qmxTicked)
            controls(*window).cbQMX53->click();

        BoxLog boxes;
        QList<Qt::CursorShape> pointerAtQuestion;
        boxes.whileShown = [&](const BoxLog::Box &box) {
            if (box.flags == 36)
                pointerAtQuestion.append(window->cursor().shape());
        };
        pressCopy(*window);

        const QStringList texts = boxes.texts();
        QTEST(texts.contains(LowSpacePrompt), "lowSpaceAsked");
        QTEST(std::any_of(texts.cbegin(), texts.cend(), isSpaceQuestion), "spaceAsked");
        QCOMPARE(texts.last(), SuccessText);
        // The low-space question comes before the pointer turns busy, the
        // run's own after it, as the kit is read.
        for (qsizetype i = 0, question = 0; i < texts.size(); ++i) {
            if (boxes.shown[i].flags == 36)
                QCOMPARE(pointerAtQuestion[question++], texts[i] == LowSpacePrompt ? Qt::ArrowCursor : Qt::WaitCursor);
        }
        QFETCH(QString, memoFragment);
        const QStringList memo = memoLines(controls(*window).mmStatus);
        for (const QString fragment : {"going on, as answered", "which says nothing"})
            QCOMPARE(memo.filter(fragment).size(), fragment == memoFragment ? 1 : 0);
        // The instrument's sizes are read only when the kit exceeds the free space.
        const QStringList ftp = sim.sent("ftp");
        const qsizetype firstSize = ftp.indexOf(QRegularExpression("(MLSD|SIZE) .*"));
        const bool beyondFree = !free.startsWith('-') && kitBytes + 1000 > free.toLongLong();
        QCOMPARE(firstSize >= 0 && firstSize < ftp.indexOf("TYPE A"), beyondFree);
        QCOMPARE(sim.file("/F0:/KRN3/k").size(), kitBytes);
    }

    void lowSpaceDeclinedWritesNothing()
    {
        SimInstrument sim({"--free", "4718591"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {6, "QMX53", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/SIGNAL/k", "target/QMX53/SIGNAL/q", "MainFrame/m"});
        controls(*window).cbQMX53->click();
        BoxLog boxes;
        boxes.answer = [](const BoxLog::Box &) { return int(platform::IDNO); };
        pressCopy(*window);

        QCOMPARE(boxes.texts(), QStringList{LowSpacePrompt});
        QVERIFY(sim.files().isEmpty());
        QCOMPARE(sim.sent("ftp").filter("STOR").size(), 0);
        QCOMPARE(sim.sent("cmd").filter("MDIR").size(), 0);
        QCOMPARE(sim.sent("ftp").last(), QString("QUIT"));
        QVERIFY(controls(*window).cbKRN3->isEnabled() && !controls(*window).cbKRN3->isChecked());
        QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(closedForGood(*window));
    }

    // Later failures show the run's box, then close the link and the window.
    void laterFailuresCloseTheWindow_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("boxTexts");
        QTest::addColumn<QStringList>("driveFiles");
        // MDIRs in order: MID3, MID5, KRN3, LPS3.
        QTest::newRow("MID folder can't be made")
            << QStringList{"--mdir-fail-after", "1"} << QStringList{MidFailed} << QStringList{"SYSTEM/MID3/NAME"};
        QTest::newRow("second module fails after the first")
            << QStringList{"--mdir-fail-after", "3"} << QStringList{DownloadFailed}
            << QStringList{"KRN3/k1", "KRN3/k2", "SYSTEM/MID3/NAME", "SYSTEM/MID5/NAME"};
        QTest::newRow("no SYSTEM folder")
            << QStringList{"--no-system"} << QStringList{MidFailed} << QStringList{};
    }

    void laterFailuresCloseTheWindow()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, driveFiles);
        SimInstrument sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}, {5, "LPS3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/k1", "target/KRN3/k2", "target/LPS3/l", "MainFrame/m"});
        BoxLog boxes;
        bool linkOpenAtBox = false;
        boxes.whileShown = [&](const BoxLog::Box &) {
            linkOpenAtBox = !sim.sent("ftp").contains("QUIT");
        };
        pressCopy(*window);

        QTEST(boxes.texts(), "boxTexts");
        QCOMPARE(boxes.shown[0].flags, 16);
        QVERIFY(linkOpenAtBox);
        QCOMPARE(sim.files(), driveFiles);
        QVERIFY(sameBytes(sim, folder, driveFiles));
        QCOMPARE(sim.sent("ftp").last(), QString("QUIT"));
        QVERIFY(closedForGood(*window));
    }

    // An FTP refusal raises out of the run: the link's boxes, then the
    // exception's box; the window stays open with the pointer set back and
    // Copy ready again.
    void refusedStorEndsTheRunWithTheWindowOpen()
    {
        // STORs: the NAME file first, then the module files.
        SimInstrument sim({"--stor-refuse", "553@3"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        ProgramFolder folder;
        folder.writeIni({{3, "KRN3", 0}});
        auto window = windowOn(sim, folder, {"target/KRN3/k1", "target/KRN3/k2", "target/KRN3/k3"});
        {
            BoxLog boxes;
            pressCopy(*window);
            QCOMPARE(boxes.shown.size(), 3);
            QCOMPARE(boxes.texts().mid(0, 2), (QStringList{"Upload failed", "Upload failed"}));
            QCOMPARE(boxes.shown[0].caption, QString("VX900 Upgrade ftp"));
            QVERIFY2(boxes.texts()[2].contains("553"), qPrintable(boxes.texts()[2]));
        }
        QCOMPARE(memoLines(controls(*window).mmStatus).filter("Copying... ").size(), 2);
        QVERIFY(!memoLines(controls(*window).mmStatus).contains("Copy completed!"));
        QCOMPARE(sim.files().size(), 2); // the NAME file and one module file
        QVERIFY(window->isVisible() && window->linkForm && window->moduleList);
        QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(controls(*window).btnCopy->isEnabled());

        // Again: the refusal was for the third STOR only.
        BoxLog boxes;
        pressCopy(*window);
        QCOMPARE(boxes.texts(), QStringList{SuccessText});
        QCOMPARE(sim.files().size(), 4);
        QVERIFY(closedForGood(*window));
    }
};

VX_TEST_MAIN(TestUpgradeRun)
#include "tst_upgraderun.moc"

#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "instrument/Uvx900.h"
#include "ftp/TNMFTP.h"
#include "instrument/TClientSocket.h"
#include "platform/MessageBox.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A program folder whose catalogue lists every module twice (ids 1 to 10)
// and has every SIGNAL folder, so that every box is enabled.
QString makeProgramFolder(const QTemporaryDir &dir)
{
    const QStringList names = {"KRN3", "LPS3", "QMX53", "SBX3", "PRZ53"};
    QByteArray ini;
    int n = 0;
    for (int round = 0; round < 2; ++round) {
        for (const QString &name : names) {
            ++n;
            ini += QStringLiteral("[ENTRY %1]\nid=%1\nname=%2\n").arg(n).arg(name).toUtf8();
            QDir(dir.path()).mkpath(QStringLiteral("target/%1/SIGNAL").arg(name));
        }
    }
    QFile file(dir.filePath(QStringLiteral("vxUpgrade.ini")));
    if (!file.open(QIODevice::WriteOnly) || file.write(ini) != ini.size())
        qFatal("cannot write the catalogue");
    return dir.path();
}

QStringList signalFlags(const TfrmMain &window)
{
    QStringList out;
    for (const auto &entry : *window.moduleList)
        out << QStringLiteral("%1=%2").arg(entry->name).arg(entry->hasSignal ? 1 : 0);
    return out;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir empty; // no catalogue: every box disabled

    static void showAndActivate(QWidget &window)
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }

private slots:
    void windowMatchesItsLayoutTable()
    {
        TfrmMain window(empty.path());
        QCOMPARE(window.windowTitle(), QStringLiteral("VX900 Upgrade"));
        QCOMPARE(window.size(), QSize(TfrmMain::ClientWidth, TfrmMain::ClientHeight));
        QCOMPARE(QSize(TfrmMain::OuterWidth, TfrmMain::OuterHeight), QSize(375, 473));
        QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(window.minimumSize() != window.maximumSize()); // sizeable
        // Centred: the outer frame's middle on the middle of the screen.
        const QRect screen = window.screen()->availableGeometry();
        QCOMPARE(window.pos() + QPoint(TfrmMain::OuterWidth / 2, TfrmMain::OuterHeight / 2), screen.center());

        const QFontInfo font(window.font());
        QVERIFY2(font.family() == QLatin1String("Courier New") || font.family() == QLatin1String("Liberation Mono"),
                 qPrintable(font.family()));
        QVERIFY(font.fixedPitch());
        QCOMPARE(font.pixelSize(), 12);
        QCOMPARE(QFontMetrics(window.font()).horizontalAdvance(u'M'), 7);

        // Every control lies inside the client area.
        for (const QWidget *child : window.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(window.rect().contains(child->geometry()), qPrintable(child->objectName()));
    }

    void controlsAsTheTableGivesThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Label1") << "Label1" << "frmMain" << QRect(8, 16, 77, 15) << "IP Address:" << true;
        QTest::newRow("Label2") << "Label2" << "frmMain" << QRect(8, 40, 350, 15)
                                << "DO NOT TURN OFF THE POWER OF VX900 UNTIL COMPLETED" << true;
        QTest::newRow("GroupBox1") << "GroupBox1" << "frmMain" << QRect(8, 72, 353, 273) << "Status" << true;
        QTest::newRow("mmStatus") << "mmStatus" << "GroupBox1" << QRect(8, 24, 337, 217) << "" << true;
        QTest::newRow("ProgressBar") << "ProgressBar" << "GroupBox1" << QRect(8, 248, 337, 16) << "" << true;
        QTest::newRow("btnCopy") << "btnCopy" << "frmMain" << QRect(280, 376, 75, 25) << "Copy" << true;
        QTest::newRow("btnQuit") << "btnQuit" << "frmMain" << QRect(280, 416, 75, 25) << "Quit" << true;
        QTest::newRow("IPAddress") << "IPAddress" << "frmMain" << QRect(88, 8, 113, 23) << "   .   .   .   " << true;
        QTest::newRow("Label3") << "Label3" << "frmMain" << QRect(8, 352, 238, 16)
                                << "Select Modules to download signals" << true;
        QTest::newRow("cbKRN3") << "cbKRN3" << "frmMain" << QRect(16, 376, 57, 17) << "KRN3" << false;
        QTest::newRow("Bevel1") << "Bevel1" << "frmMain" << QRect(8, 368, 241, 65) << "" << true;
        QTest::newRow("cbQMX53") << "cbQMX53" << "frmMain" << QRect(16, 408, 57, 17) << "QMX53" << false;
        QTest::newRow("cbLPS3") << "cbLPS3" << "frmMain" << QRect(16, 392, 57, 17) << "LPS3" << false;
        QTest::newRow("cbSBX3") << "cbSBX3" << "frmMain" << QRect(88, 376, 65, 17) << "SBX3" << false;
        QTest::newRow("cbPRZ53") << "cbPRZ53" << "frmMain" << QRect(88, 392, 65, 17) << "PRZ53" << false;
    }

    void controlsAsTheTableGivesThem()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(bool, enabled);

        TfrmMain window(empty.path());
        auto *control = window.findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->isEnabled(), enabled);

        QString shown;
        if (auto *label = qobject_cast<QLabel *>(control))
            shown = label->text();
        else if (auto *group = qobject_cast<QGroupBox *>(control))
            shown = group->title();
        else if (auto *button = qobject_cast<QAbstractButton *>(control))
            shown = button->text();
        else if (auto *edit = qobject_cast<QLineEdit *>(control))
            shown = edit->displayText();
        else if (auto *memo = qobject_cast<QPlainTextEdit *>(control))
            shown = memo->toPlainText();
        QCOMPARE(shown, text);
        QVERIFY2(!shown.contains(u'&'), "no caption carries an accelerator");

        // Whatever a label or box says fits its width in the window's font.
        if (qobject_cast<QLabel *>(control) || qobject_cast<QCheckBox *>(control)) {
            const int textWidth = QFontMetrics(control->font()).horizontalAdvance(shown);
            const int room = qobject_cast<QCheckBox *>(control) ? geometry.width() - 20 : geometry.width();
            QVERIFY2(textWidth <= room, qPrintable(QStringLiteral("%1 > %2").arg(textWidth).arg(room)));
        }
        if (auto *box = qobject_cast<QCheckBox *>(control))
            QVERIFY(!box->isChecked());
    }

    void controlsStartInTheirInitialStates()
    {
        TfrmMain window(empty.path());
        QCOMPARE(controls(window).Label2->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(controls(window).Label3->font().bold());
        QVERIFY(!controls(window).Label1->font().bold());

        QVERIFY(controls(window).mmStatus->isReadOnly());
        QCOMPARE(controls(window).mmStatus->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(controls(window).ProgressBar->minimum(), 0);
        QCOMPARE(controls(window).ProgressBar->maximum(), 100);
        QCOMPARE(controls(window).ProgressBar->value(), 0);

        QCOMPARE(controls(window).IPAddress->maxLength(), 15);
        QVERIFY(!controls(window).IPAddress->testAttribute(Qt::WA_InputMethodEnabled));
        for (QPushButton *button : {controls(window).btnCopy, controls(window).btnQuit}) {
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }

    void focusStartsOnTheAddressAndTabFollowsTheKeyboardOrder()
    {
        QTemporaryDir dir;
        TfrmMain window(makeProgramFolder(dir)); // every box enabled, so all take part
        showAndActivate(window);
        QCOMPARE(QApplication::focusWidget(), controls(window).IPAddress);

        const QStringList order = {"mmStatus", "btnCopy", "btnQuit", "cbKRN3", "cbQMX53", "cbLPS3",
                                   "cbSBX3", "cbPRZ53", "IPAddress"};
        for (const QString &expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY(QApplication::focusWidget());
            QCOMPARE(QApplication::focusWidget()->objectName(), expected);
        }
        // Nothing else takes the focus.
        for (QWidget *child : window.findChildren<QWidget *>()) {
            if (!order.contains(child->objectName()) && !child->objectName().isEmpty())
                QCOMPARE(child->focusPolicy() & Qt::TabFocus, 0);
        }
    }

    void addressTypedThroughKeys_data()
    {
        QTest::addColumn<QString>("keys");     // typed from the first place
        QTest::addColumn<int>("backspaces");   // then pressed
        QTest::addColumn<QString>("whileTyping");
        QTest::addColumn<QString>("afterLeaving");
        QTest::newRow("untouched") << "" << 0 << "" << "";
        QTest::newRow("dots jump to the next group") << "10.0.0.1" << 0 << "10 .0  .0  .1  " << "10.0.0.1";
        QTest::newRow("all twelve places") << "192168001010" << 0 << "192.168.001.010" << "192.168.001.010";
        QTest::newRow("typed and emptied again") << "12" << 2 << "   .   .   .   " << "...";
        QTest::newRow("only refused keys: no change") << "ab-" << 0 << "" << "";
        QTest::newRow("letters are not taken") << "1a2b" << 0 << "12 .   .   .   " << "12...";
        QTest::newRow("a blank is a place left empty") << " 5.1" << 0 << " 5 .1  .   .   " << "5.1..";
        QTest::newRow("no range check") << "999.999.999.999" << 0 << "999.999.999.999" << "999.999.999.999";
    }

    void addressTypedThroughKeys()
    {
        QFETCH(QString, keys);
        QFETCH(int, backspaces);
        QFETCH(QString, whileTyping);
        QFETCH(QString, afterLeaving);

        TfrmMain window(empty.path());
        showAndActivate(window);
        QCOMPARE(QApplication::focusWidget(), controls(window).IPAddress);
        controls(window).IPAddress->setCursorPosition(0);
        QTest::keyClicks(controls(window).IPAddress, keys);
        for (int i = 0; i < backspaces; ++i)
            QTest::keyClick(controls(window).IPAddress, Qt::Key_Backspace);

        QCOMPARE(window.ipAddressText, whileTyping);
        QCOMPARE(controls(window).IPAddress->displayText().size(), 15);

        // Leaving the field, as pressing Copy would.
        QTest::keyClick(controls(window).IPAddress, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != controls(window).IPAddress);
        QCOMPARE(window.ipAddressText, afterLeaving);
        // The field itself keeps what was typed.
        QCOMPARE(controls(window).IPAddress->displayText(), whileTyping.isEmpty() ? QStringLiteral("   .   .   .   ") : whileTyping);
    }

    void clickingCopyLeavesTheFieldFirst()
    {
        // The click starts a run: let it end at once on a port where nothing
        // listens, with its box answered.
        const auto previous = platform::SetMessageBoxResponder([](const QString &, const QString &, int) {
            return int(platform::IDOK);
        });
        TfrmMain window(empty.path(), InstrumentPorts{1, 21});
        showAndActivate(window);
        controls(window).IPAddress->setCursorPosition(0);
        QTest::keyClicks(controls(window).IPAddress, QStringLiteral("127.0.0.1"));
        // The run reads the address: it must already be without blanks when
        // the click arrives.
        QString seenAtPress;
        connect(controls(window).btnCopy, &QPushButton::pressed, &window, [&] { seenAtPress = window.ipAddressText; });
        QTest::mouseClick(controls(window).btnCopy, Qt::LeftButton);
        platform::SetMessageBoxResponder(previous);
        QCOMPARE(seenAtPress, QStringLiteral("127.0.0.1"));
    }

    void moduleBoxSetsTheFirstEntryOfItsName_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("firstIndex");
        QTest::newRow("cbKRN3") << "cbKRN3" << 0;
        QTest::newRow("cbLPS3") << "cbLPS3" << 1;
        QTest::newRow("cbQMX53") << "cbQMX53" << 2;
        QTest::newRow("cbSBX3") << "cbSBX3" << 3;
        QTest::newRow("cbPRZ53") << "cbPRZ53" << 4;
    }

    void moduleBoxSetsTheFirstEntryOfItsName()
    {
        QFETCH(QString, box);
        QFETCH(int, firstIndex);
        QTemporaryDir dir;
        TfrmMain window(makeProgramFolder(dir));
        showAndActivate(window);
        auto *check = window.findChild<QCheckBox *>(box);
        QVERIFY(check && check->isEnabled());

        QStringList expected = signalFlags(window);
        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(check->isChecked());
        expected[firstIndex].replace(QStringLiteral("=0"), QStringLiteral("=1"));
        QCOMPARE(signalFlags(window), expected);

        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(!check->isChecked());
        expected[firstIndex].replace(QStringLiteral("=1"), QStringLiteral("=0"));
        QCOMPARE(signalFlags(window), expected);

        // Ticked by code, as the low-space prompt does: the handler runs.
        check->setChecked(true);
        QVERIFY((*window.moduleList)[size_t(firstIndex)]->hasSignal);
        // Set to the state it already has: nothing runs.
        (*window.moduleList)[size_t(firstIndex)]->hasSignal = false;
        check->setChecked(true);
        QVERIFY(!(*window.moduleList)[size_t(firstIndex)]->hasSignal);
    }

    void setModuleSelectedMatchesWholeNamesExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first of two") << "KRN3" << "KRN3=1 KRN3=0 krn3=0";
        QTest::newRow("case counts") << "krn3" << "KRN3=0 KRN3=0 krn3=1";
        QTest::newRow("no match") << "KRN" << "KRN3=0 KRN3=0 krn3=0";
        QTest::newRow("no partial match") << "KRN33" << "KRN3=0 KRN3=0 krn3=0";
    }

    void setModuleSelectedMatchesWholeNamesExactly()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("vxUpgrade.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[ENTRY 1]\nid=1\nname=KRN3\n[ENTRY 2]\nid=2\nname=KRN3\n[ENTRY 3]\nid=3\nname=krn3\n");
        ini.close();
        TfrmMain window(dir.path());
        window.SetModuleSelected(name, true);
        QCOMPARE(signalFlags(window).join(u' '), expected);
    }

    void quitReleasesTheCatalogueAndTheLinkAndCloses()
    {
        QTemporaryDir dir;
        TfrmMain window(makeProgramFolder(dir));
        showAndActivate(window);
        QPointer<TfrmVX900> link = window.linkForm;
        QTest::mouseClick(controls(window).btnQuit, Qt::LeftButton);
        QVERIFY(!window.moduleList);
        QVERIFY(!window.linkForm);
        QVERIFY(link.isNull());
        QVERIFY(!window.isVisible());
        // A box changed afterwards touches nothing.
        controls(window).cbKRN3->setChecked(true);
    }

    void titleBarCloseKeepsTheLinkUntilTheWindowGoes()
    {
        auto *window = new TfrmMain(empty.path());
        showAndActivate(*window);
        QPointer<TfrmVX900> link = window->linkForm;
        QVERIFY(window->close());
        QVERIFY(!link.isNull());
        delete window;
        QVERIFY(link.isNull());
    }

    void programFolderGetsItsSeparator()
    {
        QTemporaryDir program;
        TfrmMain bare(program.path());
        QCOMPARE(bare.exeDir, program.path() + u'/');
        TfrmMain withSeparator(program.path() + u'/');
        QCOMPARE(withSeparator.exeDir, program.path() + u'/');
    }

    void startsFromTheExecutablesFolder()
    {
        // Without a folder given, the catalogue is read beside the running
        // executable: the test binary's own folder.
        TfrmMain window;
        QCOMPARE(window.exeDir, QCoreApplication::applicationDirPath() + u'/');
        QVERIFY(window.ipAddressText.isEmpty());
        QVERIFY(window.linkForm);
        QCOMPARE(window.linkForm->parent(), &window);
        QCOMPARE(window.linkForm->ClientSocket->Port, quint16(5000));
        QCOMPARE(window.linkForm->NMFTP->Port, 21);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

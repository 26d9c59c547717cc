// Takes the README's picture of the window after a successful upgrade: a
// sample program folder, the simulator as the instrument, the address typed
// and Copy pressed as an operator would; the picture is taken while the
// success box is up (the window closes when it is answered).
//
//     xvfb-run -a build/tests/app/vx_readme_shot docs/window-after-upgrade.png
#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "support/RunFixture.h"
#include "support/SimInstrument.h"

#include "gui/Application.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    platform::TApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vx_readme_shot PICTURE.png\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);

    SimInstrument sim;
    if (!sim.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(sim.errorString()));
        return 1;
    }
    ProgramFolder folder;
    folder.write("target/KRN3/kernel.bin", sampleBytes(180000, 1));
    folder.write("target/KRN3/SIGNAL/sine.sig", sampleBytes(120000, 2));
    folder.write("target/KRN3/SIGNAL/square.sig", sampleBytes(90000, 3));
    folder.write("target/LPS3/lps3.bin", sampleBytes(150000, 4));
    folder.write("target/LPS3/SIGNAL/pulse.sig", sampleBytes(60000, 5));
    folder.write("target/QMX53/qmx53.bin", sampleBytes(200000, 6));
    folder.write("MainFrame/vx900.exe", sampleBytes(400000, 7));
    folder.write("MainFrame/system.cfg", sampleBytes(2000, 8));

    TfrmMain window(folder.path(), sim.ports());
    window.show();
    window.activateWindow();
    // The address is kept when the field loses the focus, which needs an
    // active window.
    if (!QTest::qWaitForWindowActive(&window, 10000)) {
        std::fprintf(stderr, "the window never became active\n");
        return 1;
    }
    controls(window).IPAddress->setFocus();
    controls(window).IPAddress->setCursorPosition(0);
    QTest::keyClicks(controls(window).IPAddress, QStringLiteral("127.0.0.1"));
    controls(window).cbKRN3->click();

    bool saved = false;
    BoxLog boxes;
    boxes.whileShown = [&](const BoxLog::Box &box) {
        if (box.flags == platform::MB_ICONINFORMATION)
            saved = window.grab().save(picture);
    };
    QTest::mouseClick(controls(window).btnCopy, Qt::LeftButton);

    if (!saved) {
        std::fprintf(stderr, "no picture: the run showed %s\n", qPrintable(boxes.texts().join(" | ")));
        return 1;
    }
    std::printf("%s\n", qPrintable(picture));
    return 0;
}

#include "app/Uvxupgrade.h"
#include "gui/Application.h"
#include "platform/UserAction.h"

#include <QTimer>

#include <cstdio>

// Saves a picture of the window to the file named by VX_SCREENSHOT and
// closes it: how the demo shows the window on a machine without a display.
static void scheduleScreenshot(QWidget &window)
{
    const QString path = qEnvironmentVariable("VX_SCREENSHOT");
    if (path.isEmpty())
        return;
    QTimer::singleShot(0, &window, [&window, path] {
        if (window.grab().save(path))
            std::printf("Screenshot of the window: %s\n", qPrintable(path));
        else
            std::fprintf(stderr, "Could not save the screenshot to %s\n", qPrintable(path));
        window.close();
    });
}

int main(int argc, char *argv[])
{
    platform::TApplication app(argc, argv);
    return platform::RunGuarded([&app] {
        // The bench settings are read here, once; a real instrument has none.
        TfrmMain frmMain(std::nullopt, InstrumentPorts::FromBenchSettings(QProcessEnvironment::systemEnvironment()));
        frmMain.show();
        scheduleScreenshot(frmMain);
        app.exec();
    });
}

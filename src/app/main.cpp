#include "app/KitFolder.h"
#include "app/StartOptions.h"
#include "app/Uvxupgrade.h"
#include "app/Utilities.h"
#include "platform/Application.h"
#include "platform/ProgramFile.h"
#include "version/ProgramVersion.h"

#include <QTimer>

#include <cstdio>

// Saves a picture of the window to the file named by VX_SCREENSHOT and
// closes it: how the demo shows the window on a machine without a display.
static void scheduleScreenshot(TfrmMain &window)
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
    // Answered before the application object exists, which needs a display:
    // help2man and remote shells ask without one.
    if (const app::StartOptions early = app::parseStartOptions(argc, argv); early.help || early.version) {
        if (early.help)
            std::fputs(qPrintable(app::startUsageText()), stdout);
        else
            std::fputs(version::versionLine("vxupgrade").c_str(), stdout);
        return 0;
    }

    platform::TApplication app(argc, argv);
    // Read again without the toolkit's own options, which it has removed.
    const app::StartOptions options = app::parseStartOptions(argc, argv);
    const app::KitFolder kit = options.ok()
        ? app::resolveKitFolder(options.kitDir, SplitPath(platform::ModuleFileName()).folder, app::askForKitFolder)
        : app::KitFolder{app::KitFolder::Outcome::Error, {}, options.error};
    if (kit.outcome == app::KitFolder::Outcome::Error) {
        std::fprintf(stderr, "vxupgrade: %s\nTry vxupgrade --help\n", qPrintable(kit.error));
        return 2;
    }
    if (kit.outcome == app::KitFolder::Outcome::Quit)
        return 0;

    return platform::TApplication::RunGuarded([&app, &kit] {
        TfrmMain frmMain(kit.outcome == app::KitFolder::Outcome::Elsewhere ? std::optional(kit.folder) : std::nullopt);
        frmMain.setWindowTitle(app::titleWithKit(frmMain.windowTitle(), kit));
        frmMain.show();
        scheduleScreenshot(frmMain);
        app.exec();
    });
}

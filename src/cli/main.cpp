#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/HeadlessRun.h"
#include "cli/StopSignals.h"
#include "platform/Application.h"
#include "version/ProgramVersion.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

std::optional<QString> readInputLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    return QString::fromLocal8Bit(line.c_str());
}

QtMessageHandler qtDefaultHandler = nullptr;

// The platform plugin asks for a per-user runtime folder that nothing here
// uses; in a root shell without one its complaint would open every log.
void dropRuntimeFolderNotice(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    qtDefaultHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const cli::ParsedArguments parsed = cli::parseArguments(arguments);
    if (!parsed.ok()) {
        std::fprintf(stderr, "vxupgrade-cli: %s\nTry vxupgrade-cli --help\n", qPrintable(parsed.error));
        return cli::ExitUsage;
    }
    if (parsed.options.help) {
        std::fputs(qPrintable(cli::usageText()), stdout);
        return cli::ExitUpgraded;
    }
    if (parsed.options.version) {
        std::fputs(version::versionLine("vxupgrade-cli").c_str(), stdout);
        return cli::ExitUpgraded;
    }

    // Never a window on a screen, whatever display this shell has.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qtDefaultHandler = qInstallMessageHandler(dropRuntimeFolderNotice);
    platform::TApplication app(argc, argv);

    cli::Console console(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    cli::ConsoleBoxes boxes(console, parsed.options.lowSpace, ::isatty(STDIN_FILENO) == 1, readInputLine);
    cli::HeadlessRun run(parsed.options, console, boxes, &app);
    cli::StopSignals stopSignals(&app);
    QObject::connect(&stopSignals, &cli::StopSignals::received, &run, &cli::HeadlessRun::requestStop);

    try {
        return run.exec();
    } catch (const std::exception &error) {
        // Only the window's construction can get here: an error inside the
        // run is shown as the window shows it, in an error box.
        console.printError(QStringLiteral("vxupgrade-cli: %1").arg(QString::fromUtf8(error.what())));
        return cli::ExitFailed;
    }
}

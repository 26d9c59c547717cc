#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/ConsoleRun.h"
#include "cli/FleetMain.h"
#include "cli/HistoryCommand.h"
#include "cli/ReportCommand.h"
#include "cli/SignatureCommand.h"
#include "cli/StopSignals.h"
#include "platform/UserAction.h"
#include "version/ProgramVersion.h"

#include <QCoreApplication>

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

    QCoreApplication app(argc, argv);
    if (parsed.options.writeChecksums)
        return cli::writeChecksums(*parsed.options.writeChecksums);
    if (parsed.options.fleet)
        return cli::runFleet(parsed.options);
    // The bench settings are read here, once; a real instrument has none.
    const InstrumentPorts ports = InstrumentPorts::FromBenchSettings(QProcessEnvironment::systemEnvironment());

    cli::Console console(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    if (parsed.options.history)
        return cli::printHistory(parsed.options, console);
    if (parsed.options.report)
        return cli::writeReport(parsed.options, console);
    cli::ConsoleBoxes boxes(console, parsed.options.lowSpace, ::isatty(STDIN_FILENO) == 1, readInputLine);
    cli::ConsoleRun run(parsed.options, ports, console, boxes, &app);
    cli::StopSignals stopSignals(&app);
    QObject::connect(&stopSignals, &cli::StopSignals::received, &run,
                     platform::GuardUserAction([&run] { run.requestStop(); }));

    try {
        return run.exec();
    } catch (const std::exception &error) {
        // The run catches what happens inside it; only reading the program
        // folder can get here.
        console.printError(QStringLiteral("vxupgrade-cli: %1").arg(platform::ExceptionMessage(error)));
        return cli::ExitFailed;
    }
}

#include "cli/FleetMain.h"

#include "cli/HistoryCommand.h"
#include "cli/StopSignals.h"
#include "fleet/FleetConsole.h"
#include "fleet/FleetReport.h"
#include "fleet/FleetRun.h"
#include "upgrade/record/RunHistory.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <unistd.h>

namespace cli {

namespace {

// Each child sends over as many FTP sessions as the fleet was asked for.
QStringList sessionsArguments(const CliOptions &options)
{
    if (options.sessions == 1)
        return {};
    return {QStringLiteral("--sessions"),
            options.sessions == 0 ? QStringLiteral("auto") : QString::number(options.sessions)};
}

// What each child of the fleet is told of the undo options.
QStringList undoArguments(const CliOptions &options)
{
    QStringList arguments;
    if (options.backup)
        arguments << QStringLiteral("--backup");
    if (options.keepSnapshots > 0)
        arguments << QStringLiteral("--keep-snapshots") << QString::number(options.keepSnapshots);
    if (options.deleteDropped)
        arguments << QStringLiteral("--delete-dropped") << QStringLiteral("--max-delete")
                  << QString::number(options.maxDelete);
    if (options.restore)
        arguments << (options.restore->isEmpty() ? QStringLiteral("--restore")
                                                 : QStringLiteral("--restore=") + *options.restore);
    return arguments;
}

} // namespace

int runFleet(const CliOptions &options)
{
    fleet::FleetSettings settings;
    settings.program = QCoreApplication::applicationFilePath();
    // Absolute: a child's idea of the current folder must not matter.
    if (options.programDir)
        settings.kitDir = QFileInfo(*options.programDir).absoluteFilePath();
    switch (options.lowSpace) {
    case LowSpaceAnswer::Yes:
        settings.answer = fleet::FleetAnswer::Yes;
        break;
    case LowSpaceAnswer::No:
        settings.answer = fleet::FleetAnswer::No;
        break;
    case LowSpaceAnswer::AskOnTerminal:
        break;
    }
    if (!options.signalModules.isEmpty())
        settings.extraArguments << QStringLiteral("--signals") << options.signalModules.join(u',');
    settings.jobs = options.jobs;
    // The fleet's crashed children and every child's own record go to one
    // history, whatever the children would find configured.
    settings.historyFile = historyFileOf(options);
    settings.extraArguments << QStringLiteral("--history-file") << settings.historyFile;
    settings.audit = options.verify;
    if (options.verify)
        settings.extraArguments << QStringLiteral("--verify");
    if (options.strict)
        settings.extraArguments << QStringLiteral("--strict");
    if (options.changedOnly)
        settings.extraArguments << QStringLiteral("--changed-only");
    if (options.trustSize)
        settings.extraArguments << QStringLiteral("--trust-size");
    settings.extraArguments << sessionsArguments(options);
    if (options.requireSignature)
        settings.extraArguments << QStringLiteral("--require-signature");
    settings.extraArguments << undoArguments(options);
    for (const QString &key : options.trustedKeys)
        settings.extraArguments << QStringLiteral("--trusted-key") << QFileInfo(key).absoluteFilePath();
    // Each child waits for its own instrument's restart.
    if (options.awaitReboot)
        settings.extraArguments << QStringLiteral("--await-reboot") << QStringLiteral("--reboot-timeout")
                                << QString::number(options.rebootTimeoutSeconds);

    QCoreApplication *app = QCoreApplication::instance();
    fleet::FleetRun run(settings, options.addresses, app);
    fleet::FleetConsole console(run, fleet::FleetConsole::standardStreams(options.json),
                                ::isatty(STDERR_FILENO) == 1, app);
    StopSignals stopSignals(app);
    QObject::connect(&stopSignals, &StopSignals::received, &run, [&run] { run.stop(); });
    QObject::connect(&run, &fleet::FleetRun::finished, app, [&run, &console] {
        console.finish();
        QCoreApplication::exit(fleet::fleetExitStatus(run.instruments()));
    });
    run.start();
    // An empty list (never, after the parser) would have finished already.
    if (run.isFinished())
        return fleet::fleetExitStatus(run.instruments());
    return QCoreApplication::exec();
}

} // namespace cli

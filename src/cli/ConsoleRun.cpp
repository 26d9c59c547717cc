#include "cli/ConsoleRun.h"

#include "cli/AuditTable.h"
#include "cli/ChildReport.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/HistoryCommand.h"
#include "cli/ProgressText.h"
#include "cli/SignatureCommand.h"
#include "instrument/Uvx900.h"
#include "platform/UserAction.h"
#include "platform/Utilities.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/kit/PlanPrinter.h"
#include "upgrade/reboot/RebootConfirmation.h"
#include "upgrade/run/RunAssembly.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/run/UpgradeRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace cli {
namespace {

// The progress line's rate and time left change between bar steps too.
constexpr int ProgressRefreshMs = 250;

} // namespace

ConsoleRun::ConsoleRun(const CliOptions &options, InstrumentPorts ports, Console &console, ConsoleBoxes &boxes,
                       QObject *parent)
    : QObject(parent)
    , options(options)
    , ports(ports)
    , console(console)
    , boxes(boxes)
{
    // No box may wait for a click on a screen no one sees: every box, the
    // link's as it closes and the error box included, goes to the console.
    previousPresenter = platform::SetMessageBoxPresenter(
        [this](const QString &text, const QString &caption, int flags) {
            return box(text, caption, flags);
        });
}

ConsoleRun::~ConsoleRun()
{
    run.reset();
    child.reset();
    link.reset();
    catalogue.reset();
    platform::SetMessageBoxPresenter(previousPresenter);
}

int ConsoleRun::exec()
{
    if (const std::optional<int> usage = assemble())
        return *usage;
    // A signal that came while the catalogue was read is delivered here.
    QCoreApplication::processEvents();
    if (stopRequested) {
        console.printError(QStringLiteral("vxupgrade-cli: stopped before the run began; nothing was sent"));
        return ExitFailed;
    }
    return conclude(runShowingProgress());
}

std::optional<int> ConsoleRun::assemble()
{
    if (options.programDir && !QFileInfo(*options.programDir).isDir()) {
        console.printError(QStringLiteral("vxupgrade-cli: --dir: no folder \"%1\"").arg(*options.programDir));
        return ExitUsage;
    }
    std::optional<QString> given;
    if (options.programDir)
        given = QDir::toNativeSeparators(QFileInfo(*options.programDir).absoluteFilePath());
    const QString exeDir = ProgramFolder(given);

    catalogue = upgrade::MakeCatalogue(exeDir);
    // A box is usable only when the catalogue enabled it: its module is
    // catalogued and has a SIGNAL folder. The window would not let the
    // operator tick it either.
    for (const QString &name : options.signalModules) {
        if (!catalogue->box(name).enabled) {
            console.printError(QStringLiteral("vxupgrade-cli: --signals: the box of %1 is disabled: %1 is not in "
                                              "the catalogue of %2 or has no folder target/%1/SIGNAL")
                                   .arg(name, QDir::toNativeSeparators(exeDir)));
            return ExitUsage;
        }
    }
    for (const QString &name : options.signalModules)
        catalogue->TickBox(name, true);

    if (options.fleetChild)
        child = std::make_unique<ChildReport>(stdout, options.lowSpace, options.address, exeDir);
    const std::optional<upgrade::RunSettings> settings = runSettings(options, console);
    if (!settings)
        return ExitUsage;
    upgrade::RunSetup setup;
    setup.exeDir = exeDir;
    setup.ports = ports;
    setup.settings = *settings;
    setup.historyFile = options.historyFile;
    setup.changedOnly = options.changedOnly;
    setup.trustSize = options.trustSize;
    setup.strictAudit = options.strict;
    // The settings file's "backup = yes" asks for it as the option does.
    setup.backup = options.backup || settings->backup;
    setup.keepSnapshots = options.keepSnapshots;
    setup.deleteDropped = options.deleteDropped;
    setup.maxDelete = options.maxDelete;
    setup.restoreFrom = options.restore;
    upgrade::RunParts parts = upgrade::AssembleRun(*catalogue, setup, *this);
    link = std::move(parts.link);
    run = std::move(parts.run);
    if (child) {
        child->reportRecordOf(run->record());
        child->reportIdentityOf(link->IdentityReply);
    }
    // A dry run sends nothing to restart with.
    if (options.awaitReboot && !options.dryRun) {
        run->recordAtEnd = false;
        if (child)
            child->holdRecord();
    }
    return std::nullopt;
}

upgrade::RunResult ConsoleRun::runShowingProgress()
{
    if (console.showsProgress()) {
        // The FTP client's waits turn the event loop, so the timer ticks
        // while a big file is on its way.
        progressTimer = new QTimer(this);
        connect(progressTimer, &QTimer::timeout, this, &ConsoleRun::showProgress);
        progressTimer->start(ProgressRefreshMs);
    }
    using enum upgrade::RunMode;
    const upgrade::RunMode mode = options.verify ? Audit : options.dryRun ? DryRun : Upgrade;
    run->sessions = options.sessions; // the window keeps its one session
    const upgrade::RunResult result = run->Run(options.address, mode);
    if (progressTimer)
        progressTimer->stop();
    console.clearProgress();
    return result;
}

int ConsoleRun::conclude(const upgrade::RunResult &result)
{
    if (!result.note.isEmpty()) {
        // The upgrade is complete; what went wrong after it is one line
        // (a fleet child has told it before its record).
        if (!child)
            memoLine(result.note);
    } else if (result.raised && !child) {
        // As the window shows it: the application's error box.
        platform::ShowErrorMessage(result.message);
    }
    if (result.outcome == upgrade::RunOutcome::Stopped) {
        // An audit and a dry run never write: the instrument is as it was.
        console.printError(options.verify ? QStringLiteral("vxupgrade-cli: stopped; nothing was written (audit)")
                           : options.dryRun
                               ? QStringLiteral("vxupgrade-cli: stopped; nothing was written (dry run)")
                               : QStringLiteral("vxupgrade-cli: stopped; the instrument may hold part of the upgrade"));
    }
    if (options.dryRun && !options.restore && result.outcome == upgrade::RunOutcome::Succeeded) {
        for (const QString &line : upgrade::FormatPlan(run->plan()))
            memoLine(line);
    }
    if (options.verify && result.outcome == upgrade::RunOutcome::Succeeded && !options.json && !child) {
        for (const QString &line : FormatAudit(run->audit(), options.strict))
            console.printLine(line);
    }
    // A dry run ends with the status the run would have: declined at a
    // question is 3 there too. Only a success awaits the restart.
    const bool confirmed = confirmAndRecord(result);
    const bool notMatching = options.verify && !run->audit().clean(options.strict);
    return upgrade::ExitStatusOf(result.outcome, !confirmed, notMatching);
}

bool ConsoleRun::confirmAndRecord(const upgrade::RunResult &result)
{
    if (!options.awaitReboot || options.dryRun) {
        if (options.json)
            console.printLine(QString::fromUtf8(run->record().toJsonLine()));
        return true;
    }
    upgrade::RunRecord record = run->record();
    bool confirmed = true;
    if (result.outcome == upgrade::RunOutcome::Succeeded) {
        const upgrade::RebootResult reboot = awaitReboot();
        record.reboot = reboot.text;
        confirmed = reboot.confirmed();
    }
    putOnRecord(record);
    if (options.json)
        console.printLine(QString::fromUtf8(record.toJsonLine()));
    return confirmed;
}

upgrade::RebootResult ConsoleRun::awaitReboot()
{
    upgrade::RebootConfirmation::Settings settings;
    settings.address = options.address;
    settings.commandPort = ports.command;
    settings.timeoutMs = options.rebootTimeoutSeconds * 1000;
    settings.identity = run->record().identity.toUtf8();
    for (const upgrade::RecordedModule &module : run->record().modules)
        settings.moduleIds << module.id;

    memoLine(QStringLiteral("Waiting up to %1 s for the instrument to restart ...").arg(options.rebootTimeoutSeconds));
    confirmation = std::make_unique<upgrade::RebootConfirmation>(settings, [this](int seconds) {
        if (child)
            child->restartWaited(seconds);
        else
            console.setProgress(QStringLiteral("waiting for the instrument to restart (%1 s)").arg(seconds));
    });
    // A signal that came as the run ended stops the wait before it starts.
    if (stopRequested)
        confirmation->requestStop();
    const upgrade::RebootResult result = confirmation->run();
    confirmation.reset();
    console.clearProgress();
    memoLine(QStringLiteral("After the restart: ") + result.text);
    return result;
}

void ConsoleRun::putOnRecord(const upgrade::RunRecord &record)
{
    if (!run->historyFile.isEmpty()) {
        if (const std::optional<QString> error = upgrade::RunHistory(run->historyFile).append(record)) {
            const QString line = QStringLiteral("The run could not be put on record: ") + *error;
            memoLine(line);
            recordNotWritten(line);
        }
    }
    if (child)
        child->sendRecord(record);
}

void ConsoleRun::requestStop()
{
    if (stopRequested)
        return;
    stopRequested = true;
    console.printError(QStringLiteral("vxupgrade-cli: stopping, as closing the window would"));
    if (run)
        run->RequestStop();
    if (confirmation)
        confirmation->requestStop();
}

void ConsoleRun::runStarted()
{
    if (child)
        child->runStarted();
}

void ConsoleRun::stepEntered(upgrade::RunStep step)
{
    if (child)
        child->stepEntered(step);
}

void ConsoleRun::memoLine(const QString &line)
{
    if (child)
        child->memoLine(line);
    // Under --json standard output carries the record alone.
    else if (options.json)
        console.printError(line);
    else
        console.printLine(line);
}

void ConsoleRun::recordNotWritten(const QString &line)
{
    // The exit status stays the instrument's: a run that upgraded it still
    // ends 0, and scripts see the lost record here. Under --json the memo
    // is on standard error already, and a fleet child's memo reaches the
    // fleet's output.
    if (!child && !options.json)
        console.printError(QStringLiteral("vxupgrade-cli: ") + line);
}

void ConsoleRun::fileStarted(const upgrade::FileTransfer &file)
{
    if (child)
        child->fileStarted(file);
}

void ConsoleRun::fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome)
{
    if (child)
        child->fileEnded(file, outcome);
}

int ConsoleRun::box(const QString &text, const QString &caption, int flags)
{
    return child ? child->box(text, caption, flags) : boxes.respond(text, caption, flags);
}

void ConsoleRun::runEnded(const upgrade::RunResult &result)
{
    if (child)
        child->runEnded(result);
}

void ConsoleRun::progress(const upgrade::RunProgress &progress)
{
    if (child) {
        child->progress(progress);
        return;
    }
    latest = progress;
    // Each step of the bar is drawn at once; the bytes between steps wait
    // for the timer, so that a big file does not redraw the line per piece.
    if (progress.bar != barShown)
        showProgress();
}

void ConsoleRun::showProgress()
{
    if (latest.totalBytes <= 0 && latest.bar <= 0)
        return;
    // The copy starts right after the trees have been measured.
    if (!copyClock.isValid())
        copyClock.start();
    barShown = latest.bar;
    console.setProgress(
        progressText(latest.bar, latest.copiedBytes, latest.totalBytes, double(copyClock.elapsed()) / 1000.0));
}

} // namespace cli

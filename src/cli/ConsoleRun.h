#pragma once

#include "cli/CliOptions.h"
#include "cli/ExitStatus.h"
#include "instrument/InstrumentPorts.h"
#include "platform/MessageBox.h"
#include "upgrade/run/RunObserver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

namespace upgrade {
class ModuleCatalogue;
class RebootConfirmation;
class UpgradeRun;
struct RunRecord;
struct RebootResult;
} // namespace upgrade
class QTimer;
class TfrmVX900;

namespace cli {

class ChildReport;
class Console;
class ConsoleBoxes;

// The console's view of one upgrade run: the catalogue and the link are made
// as the window makes them, the named modules' boxes ticked, and the run
// started at once. Memo lines go to standard output, boxes to standard
// error (answered by ConsoleBoxes), and on a terminal a live progress line
// follows the copy. The exit status is the run's outcome.
class ConsoleRun : public QObject, private upgrade::RunObserver
{
    Q_OBJECT

public:
    ConsoleRun(const CliOptions &options, InstrumentPorts ports, Console &console, ConsoleBoxes &boxes,
               QObject *parent = nullptr);
    ~ConsoleRun() override;

    // Runs to the end and gives the exit status.
    [[nodiscard]] int exec();

    // Stops a run under way at its next wait, as closing the window would
    // (SIGINT, SIGTERM); before the run, keeps it from starting.
    void requestStop();

private:
    // With --fleet-child every event goes to `child` instead of the console.
    void runStarted() override;
    void stepEntered(upgrade::RunStep step) override;
    void memoLine(const QString &line) override;
    void progress(const upgrade::RunProgress &progress) override;
    void fileStarted(const upgrade::FileTransfer &file) override;
    void fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome) override;
    int box(const QString &text, const QString &caption, int flags) override;
    void runEnded(const upgrade::RunResult &result) override;
    void recordNotWritten(const QString &line) override;
    void showProgress();
    // Prints the record under --json and, with --await-reboot, first waits
    // for the restart and puts the record with it on file; false when the
    // restart was awaited and not confirmed.
    // The catalogue, the boxes the options tick, the link and the run; a
    // usage error's exit status when the options can't be carried out.
    [[nodiscard]] std::optional<int> assemble();
    // The run, with the progress line when the console shows one.
    [[nodiscard]] upgrade::RunResult runShowingProgress();
    // What the run's end prints, the restart awaited, and the exit status.
    [[nodiscard]] int conclude(const upgrade::RunResult &result);
    [[nodiscard]] bool confirmAndRecord(const upgrade::RunResult &result);
    // --await-reboot: waits for the restart after a successful upgrade and
    // tells how it went.
    [[nodiscard]] upgrade::RebootResult awaitReboot();
    // The record, with what was learnt after the run, to the history (and
    // to the fleet) when the run left that to this view.
    void putOnRecord(const upgrade::RunRecord &record);

    CliOptions options;
    InstrumentPorts ports;
    Console &console;
    ConsoleBoxes &boxes;
    // Released in reverse: the run refers to the link and the catalogue.
    std::unique_ptr<upgrade::ModuleCatalogue> catalogue;
    std::unique_ptr<TfrmVX900> link;
    std::unique_ptr<upgrade::UpgradeRun> run;
    std::unique_ptr<ChildReport> child;
    std::unique_ptr<upgrade::RebootConfirmation> confirmation;
    platform::MessageBoxResponder previousPresenter;
    QPointer<QTimer> progressTimer;
    QElapsedTimer copyClock;
    upgrade::RunProgress latest;
    int barShown = -1;
    bool stopRequested = false;
};

} // namespace cli

#pragma once

#include "cli/CliOptions.h"
#include "platform/MessageBox.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <memory>

class QAbstractButton;
class QTimer;
class TfrmMain;

namespace cli {

class Console;
class ConsoleBoxes;

// Exit statuses of vxupgrade-cli.
enum ExitStatus : int {
    ExitUpgraded = 0,
    ExitFailed = 1,
    ExitUsage = 2,
    ExitDeclined = 3,
};

// One upgrade run of the real main window without a display: the window is
// made with the program folder, shown on the offscreen platform, and worked
// as an operator would work it (address typed into the field, module boxes
// clicked, Copy clicked), so the run is the window's own Copy handler. Memo
// lines go to standard output as the run writes them, boxes to standard
// error through the message-box responder, and on a terminal a live
// progress line follows the bar.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    HeadlessRun(const CliOptions &options, Console &console, ConsoleBoxes &boxes, QObject *parent = nullptr);
    ~HeadlessRun() override;

    // Runs to the end and gives the exit status.
    [[nodiscard]] int exec();

    // Asks a run under way to stop, as closing the window would (for
    // SIGINT/SIGTERM); before the run it keeps Copy from being clicked.
    void requestStop();

private:
    [[nodiscard]] bool activateWindow();
    void typeAddress();
    void click(QAbstractButton *button);
    void echoNewMemoLines();
    void updateProgress();
    [[nodiscard]] int outcome() const;

    CliOptions options;
    Console &console;
    ConsoleBoxes &boxes;
    // A top-level window, so no parent; the destructor releases it first.
    std::unique_ptr<TfrmMain> window;
    QPointer<QTimer> progressTimer;
    QElapsedTimer copyClock;
    platform::MessageBoxResponder previousResponder;
    bool responderInstalled = false;
    int memoLinesPrinted = 0;
    bool stopRequested = false;
    bool runStarted = false;
};

} // namespace cli

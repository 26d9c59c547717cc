#pragma once

#include "fleet/ChildProtocol.h"
#include "fleet/InstrumentState.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <optional>

class QProcess;
class QTimer;

namespace fleet {

// The answer every child gives to every question. A fleet never asks in the
// middle of its runs: without --yes or --no each child answers No, and an
// instrument that asked ends as declined.
enum class FleetAnswer { Unset, Yes, No };

struct FleetSettings
{
    // The single-instrument program (vxupgrade-cli itself) and any arguments
    // that go before the child's own (a test puts its fake child's script).
    QString program;
    QStringList leadingArguments;
    QString kitDir;
    FleetAnswer answer = FleetAnswer::Unset;
    // Passed on to every child as they are (--signals ...).
    QStringList extraArguments;
    // How many children run at once; 0: defaultJobs().
    int jobs = 0;
    // How long a child may take to stop after SIGTERM before it is killed.
    int stopGraceMs = 30000;
    // The history the children write to. A child that ended without its
    // record (killed, crashed) is put on record there by the fleet; nowhere
    // when empty.
    QString historyFile;
    // The children audit (--verify): the table has its AUDIT column and the
    // fleet's totals, even when no instrument could be audited.
    bool audit = false;
};

// Upgrades many instruments side by side: one child process per instrument,
// each the ordinary single-instrument run, at most `jobs` at a time. A child
// that hangs, fails or crashes touches no other: it has its own process,
// link and time-outs, and the fleet only reads what it says.
class FleetRun : public QObject
{
    Q_OBJECT

public:
    FleetRun(FleetSettings settings, const QStringList &addresses, QObject *parent);
    ~FleetRun() override;

    [[nodiscard]] static int defaultJobs(int instruments);
    // A --jobs value: a whole number from 1 to 256.
    [[nodiscard]] static std::optional<int> parseJobs(const QString &text);

    void start();
    // As closing the window stops a run: SIGTERM to each running child,
    // and no more children are started. A child still running after the
    // grace time is killed.
    void stop();
    // SIGKILL to each running child (a second Ctrl-C).
    void kill();

    [[nodiscard]] const QList<InstrumentState> &instruments() const { return states; }
    // Whether the children audit rather than upgrade.
    [[nodiscard]] bool audits() const { return settings.audit; }
    [[nodiscard]] bool isFinished() const;
    // Milliseconds since start().
    [[nodiscard]] qint64 elapsedMs() const { return clock.elapsed(); }
    // The arguments one instrument's child is started with.
    [[nodiscard]] QStringList childArguments(const QString &address) const;

signals:
    // Everything a child said, in order; stderr lines come as Text events.
    void childEvent(int index, const fleet::ChildEvent &event);
    // The instrument's line changed (step, progress, end).
    void changed(int index);
    // The instrument's run is settled (outcome, message, record).
    void ended(int index);
    // Every instrument has ended.
    void finished();

private:
    struct Child;

    void startNext();
    void startChild(int index);
    void readOutput(int index);
    void readErrors(int index, bool atEnd);
    void apply(int index, const ChildEvent &event);
    void childFinished(int index, int exitCode, bool crashed);
    void childFailedToStart(int index);
    void settle(int index);
    void putCrashOnRecord(int index);
    void checkFinished();

    FleetSettings settings;
    QList<InstrumentState> states;
    std::vector<std::unique_ptr<Child>> children;
    int nextToStart = 0;
    int running = 0;
    bool stopping = false;
    bool finishedSent = false;
    QElapsedTimer clock;
    QTimer *graceTimer = nullptr;
};

} // namespace fleet

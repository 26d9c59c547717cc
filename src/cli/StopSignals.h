#pragma once

#include <QObject>

class QSocketNotifier;

namespace cli {

// Turns SIGINT and SIGTERM into a Qt signal delivered on the event loop
// (which the FTP client's waits keep turning), so that Ctrl-C stops a run
// the way closing the window does: the run stops at its next wait, closes
// the link and ends. A second signal ends the process at once, for a run
// stuck where no events are turned. One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent);
    ~StopSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
};

} // namespace cli

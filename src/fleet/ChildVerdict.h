#pragma once

#include "fleet/InstrumentState.h"

#include <QJsonObject>
#include <QString>

namespace fleet {

// How a child process ended, as the fleet saw it.
struct ChildEnd
{
    QString startError;   // it could not be started
    bool crashed = false; // ended by a signal; exitCode is the signal then
    int exitCode = 0;
    bool terminated = false;   // the fleet sent it SIGTERM
    bool killed = false;       // the fleet sent it SIGKILL
    qint64 sinceTerminateMs = 0;
    QString lastErrorLine; // its standard error's last line
};

// What the fleet believes of one instrument's run.
struct ChildVerdict
{
    Outcome outcome = Outcome::Failed;
    QString message;
    QString childExit; // "exit status 0", "signal 9", "not started"
};

// Judges a child's end from how it ended and the record it sent: a record
// is believed only when the exit status is the one a single run gives for
// that end. `state` tells whether its restart was confirmed and its audit
// clean, which decide that status too.
[[nodiscard]] ChildVerdict JudgeChildEnd(const ChildEnd &end, const QJsonObject &record,
                                         const InstrumentState &state);

} // namespace fleet

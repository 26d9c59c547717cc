#pragma once

#include <QString>

namespace upgrade {

struct RunRecord;

// The OUTCOME column of the history table: the run's outcome with what an
// audit found ("audit: 1 missing, 2 differ") and how an awaited restart went
// ("succeeded, restart not confirmed"). A bare "succeeded" read the same for
// a clean audit and one that found a file missing, and for an instrument
// that never came back.
[[nodiscard]] QString HistoryOutcomeText(const RunRecord &record);

} // namespace upgrade

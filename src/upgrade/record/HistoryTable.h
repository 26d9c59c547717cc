#pragma once

#include "upgrade/record/RunRecord.h"

#include <QList>
#include <QStringList>

namespace upgrade {

// The records as a table for a terminal: time, instrument, identity, kit
// digest in short, outcome, files, duration, and whether the run's snapshot
// is kept ("kept", "removed", or "-" for none); a header line first.
[[nodiscard]] QStringList FormatHistoryTable(const QList<RunRecord> &records);

} // namespace upgrade

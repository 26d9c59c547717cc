#pragma once

#include <QStringList>

namespace upgrade {

struct KitPlan;

// The plan as a dry run prints it: the folders the run would make, the MID
// folders and NAME files it would write, every file it would send with its
// size, and the total. Instrument paths are shown with control characters
// as \xNN (a sendable plan has none).
[[nodiscard]] QStringList FormatPlan(const KitPlan &plan);

} // namespace upgrade

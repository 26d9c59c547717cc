#pragma once

#include "upgrade/audit/KitAudit.h"

#include <QStringList>

namespace cli {

// The audit for the console: one line per path that does not match (its
// verdict, the kit's and the drive's size, why), then the counts.
[[nodiscard]] QStringList FormatAudit(const upgrade::AuditReport &report, bool strict);

} // namespace cli

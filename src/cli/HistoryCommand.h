#pragma once

#include "cli/CliOptions.h"

namespace cli {

class Console;

// --history: the runs on record, as a table or as JSON lines, on standard
// output; the exit status (1 when the history exists but can't be read).
[[nodiscard]] int printHistory(const CliOptions &options, Console &console);

// Where the history lies: --history-file, else "history-file" of
// vxupgrade.conf, else the state folder's history.jsonl.
[[nodiscard]] QString historyFileOf(const CliOptions &options);

} // namespace cli

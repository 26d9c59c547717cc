#pragma once

#include "cli/CliOptions.h"

namespace cli {

class Console;

// --report: every history named (or the one a run would use) read into the
// fleet's view, written as the HTML page, or as JSON with --json, to the
// file or to standard output; the exit status (1 when a history can't be
// read or the page can't be written, and then no page is written).
[[nodiscard]] int writeReport(const CliOptions &options, Console &console);

} // namespace cli

#pragma once

#include "cli/CliOptions.h"

namespace cli {

// Fleet mode: one child process of this program per instrument, the live
// view on the terminal (or "[ADDRESS] " lines off it), and the table at the
// end. Ctrl-C or SIGTERM stops every child as closing the window stops a
// run. Returns the fleet's exit status. Needs the QCoreApplication.
[[nodiscard]] int runFleet(const CliOptions &options);

} // namespace cli

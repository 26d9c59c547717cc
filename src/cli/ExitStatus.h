#pragma once

#include "upgrade/common/RunVocabulary.h"

// The console's exit statuses are the run's: every command of the console
// returns one of these, whether or not it runs an upgrade.
namespace cli {

using upgrade::ExitStatus;
using enum upgrade::ExitStatus;

} // namespace cli

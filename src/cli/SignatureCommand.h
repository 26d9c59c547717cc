#pragma once

#include "cli/CliOptions.h"
#include "upgrade/run/RunSettings.h"

#include <optional>

namespace cli {

class Console;

// --write-checksums DIR: writes DIR/SHA256 for the kit's publisher to sign;
// the exit status (1 when a file can't be listed or the list written).
[[nodiscard]] int writeChecksums(const QString &kitFolder);

// The run's settings: the settings file and the trusted-key folders, with
// the command line's signature switch and keys added to its policy. Nothing, after a
// line on standard error, when a named key can't be used: a key given by
// hand that is silently left out would refuse every kit for no clear reason.
[[nodiscard]] std::optional<upgrade::RunSettings> runSettings(const CliOptions &options, Console &console);

} // namespace cli

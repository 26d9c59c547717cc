#pragma once

#include "cli/CliOptions.h"
#include "upgrade/signature/SignaturePolicy.h"

#include <optional>

namespace cli {

class Console;

// --write-checksums DIR: writes DIR/SHA256 for the kit's publisher to sign;
// the exit status (1 when a file can't be listed or the list written).
[[nodiscard]] int writeChecksums(const QString &kitFolder);

// The run's signature policy: the settings file and the trusted-key
// folders, with the command line's switch and keys added. Nothing, after a
// line on standard error, when a named key can't be used: a key given by
// hand that is silently left out would refuse every kit for no clear reason.
[[nodiscard]] std::optional<upgrade::SignaturePolicy> signaturePolicy(const CliOptions &options, Console &console);

} // namespace cli

#pragma once

#include <string>
#include <string_view>

namespace version {

// What `program --version` prints: "vxupgrade 1.0", or with the git
// description of the tree it was built from, "vxupgrade 1.0 (git 060789f)".
// The first word after the name is the project version alone, as help2man
// and scripts expect.
[[nodiscard]] std::string versionLine(std::string_view program);

// The project version alone ("1.0").
[[nodiscard]] std::string_view projectVersion();

} // namespace version

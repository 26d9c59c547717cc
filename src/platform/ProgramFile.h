#pragma once

#include <QString>

namespace platform {

// The full path of the running executable, as the operating system reports
// it for the program's own module, whatever its length; empty when it cannot
// be told. Symbolic links on the way are resolved, so the folder is the one
// that really holds the executable and the files beside it.
[[nodiscard]] QString ModuleFileName();

} // namespace platform

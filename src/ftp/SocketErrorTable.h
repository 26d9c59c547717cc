#pragma once

#include <QString>

// The Windows Sockets error numbers and their texts, as the operator reads
// them: "10061:Connection refused"; an empty text for 0; "Unknown Error No. "
// and the number for anything not in the table.
[[nodiscard]] QString SocketErrorText(int errorNo);

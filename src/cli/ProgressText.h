#pragma once

#include <QString>

namespace cli {

// The text of the live progress line, for example
// " 37%  55.2 MiB of 150.3 MiB  48.1 MiB/s  0:02 left".
// `seconds` is the time since the copy began; the rate and the time left
// show "--" until a byte has been copied.
[[nodiscard]] QString progressText(int percent, qint64 copiedBytes, qint64 totalBytes, double seconds);

// 1536 -> "1.5 KiB"; below 1 KiB whole bytes ("512 B").
[[nodiscard]] QString formatBytes(qint64 bytes);

// 75 -> "1:15", 3725 -> "1:02:05".
[[nodiscard]] QString formatDuration(qint64 seconds);

} // namespace cli

#pragma once

#include "upgrade/KitPreflight.h"

#include <QList>

#include <functional>

class TfrmVX900;

namespace upgrade {

// The bytes the instrument holds now at the places where `files` would be
// written: space that the copy frees again as it replaces those files.
//
// Read by listing each folder once (the FTP server's MLSD, else the
// instrument's catalogue), and where neither lists a folder, by the FTP SIZE
// command file by file in image type (which it then selects); only until
// `enough` bytes are found. A size that can't be read (no such file, a
// server without SIZE, a reply that is no size) counts as 0, so that file's
// bytes count in full as new space. Socket errors and time-outs raise, as
// for any FTP command. `afterEach` runs after every answer: the FTP waits
// keep the event loop turning, so a stop may have been asked for meanwhile.
[[nodiscard]] qint64 ReplacedBytes(TfrmVX900 &link, const QList<PlannedFile> &files, qint64 enough,
                                   const std::function<void()> &afterEach);

} // namespace upgrade

#pragma once

#include <QStringList>

#include <functional>

namespace upgrade {

class DriveLookup;

// The bytes the instrument holds now at the places where the files at
// `instrumentPaths` would be written: space that the copy frees again as it
// replaces those files.
//
// Asked of the drive lookup, in the order the copy reaches the files, only
// until `enough` bytes are found. A size that can't be read (no such file,
// nothing that sizes it, a reply that is no size) counts as 0, so that
// file's bytes count in full as new space. Socket errors and time-outs
// raise, as for any FTP command. `afterEach` runs after every answer: the
// FTP waits keep the event loop turning, so a stop may have been asked for
// meanwhile.
[[nodiscard]] qint64 ReplacedBytes(DriveLookup &drive, const QStringList &instrumentPaths, qint64 enough,
                                   const std::function<void()> &afterEach);

} // namespace upgrade

#pragma once

#include <QByteArray>

// Reading one reply line of the command channel, and the error-queue reply
// (":SYSTEM:ERR?"), from bytes alone.
namespace CommandReply {

// Longest reply line taken, line feed included: a catalogue of a full folder
// fits many times over, an instrument that never ends its line does not.
constexpr qsizetype MaxLength = 1024 * 1024;

// Adds the next byte of a reply line to `line`: a NUL adds nothing, a line
// feed is kept and ends the line (true). Throws ESockError when the line
// would grow past maxLength bytes.
[[nodiscard]] bool TakeByte(QByteArray &line, char byte, qsizetype maxLength = MaxLength);

// Moves the bytes of `received` up to and including the first line feed
// into `line`, by TakeByte's rules, and leaves the rest in `received`
// for the next line. True when the line is complete; false when `received`
// ran out first (its bytes are in `line` then).
[[nodiscard]] bool TakeLine(QByteArray &line, QByteArray &received, qsizetype maxLength = MaxLength);

// True when the error-queue reply says the queue is empty: its first
// character is "0", whatever follows.
[[nodiscard]] bool NoError(const QByteArray &reply);

} // namespace CommandReply

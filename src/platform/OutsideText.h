#pragma once

#include <QByteArray>
#include <QString>

// Text that came from outside the program: an instrument's identity, a
// server's reply, a name from a listing, a field of the history (which
// another host may have written). A peer can put anything there, and a
// terminal obeys what it is given: ESC sequences clear the screen, move the
// cursor or retitle the window, C1 controls do the same on many terminals,
// and bidirectional overrides show words in another order. So every view
// shows such text through these, one rule for all.
namespace platform {

// `text` for one line on a terminal or in a window: line breaks and tabs
// shown as spaces, every other control character (C0, DEL, C1) and format
// character (bidirectional controls, zero-width marks) removed.
[[nodiscard]] QString PrintableText(const QString &text);

// The same for text of several lines, such as a box: only its line feeds kept.
[[nodiscard]] QString PrintableLines(const QString &text);

// A JSON text with every control and format character that the JSON writer
// leaves raw (DEL, C1, format characters; it escapes only C0) written as a
// \uXXXX escape: the same document, which no terminal acts on.
[[nodiscard]] QByteArray JsonWithoutControls(const QByteArray &json);

} // namespace platform

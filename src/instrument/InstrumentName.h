#pragma once

#include <QString>

// Which names can travel to the instrument. Its command lines quote paths
// with double quotes and end at a line feed, and nothing escapes either;
// FTP commands end at CR LF. A double quote or any control character (C0 or
// C1) would break the command or smuggle in another one, so such a name is
// never sent, whichever channel it would take.
namespace instrument {

[[nodiscard]] bool FitsCommandLine(const QString &text);

// `path` for one line of text: control characters written as \xNN, so that
// a bad name stays on its line and shows what is wrong with it.
[[nodiscard]] QString PrintablePath(const QString &path);

} // namespace instrument

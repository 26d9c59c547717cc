#pragma once

#include <QString>

namespace platform {

// A modal box over the active window with the original platform's style
// flags (error, question or information icon; OK, or Yes and No), shown
// until the operator answers; returns IDOK, IDYES or IDNO.
int ShowModalMessageBox(const QString &text, const QString &caption, int flags);

} // namespace platform

#pragma once

#include <QString>
#include <QStringList>

namespace upgrade {

// The box that ends a run whose kit was refused before its first write
// (a file that can't be read or sent, a signature that does not vouch for
// the kit): nothing was written, so the box says why the kit was refused,
// not that a copy failed. `reasons` are the memo lines of the refusal, in
// order; the first few are repeated in the box, the rest counted.
[[nodiscard]] QString KitRefusedText(const QStringList &reasons);

} // namespace upgrade

#pragma once

#include <QString>

#include <optional>

namespace fleet {

// The one door from the fleet to the project's dotted-address parser: the
// same rules the link uses to reach the instrument, so that "127.0.0.2" and
// "127.0.0.02" are recognised as one instrument. Returns the address in its
// plain dotted form ("127.0.0.2"), which is what a child run is handed, or
// nothing when the text is not an address.
[[nodiscard]] std::optional<QString> canonicalAddress(const QString &text);

} // namespace fleet

#pragma once

#include <QString>

// The window's address field: four groups of up to three digits with dots
// between them. What the field holds is read as an address by
// platform::sock::ParseDottedAddress, as every other address is.
namespace upgrade {

// Every place takes a digit or stays blank ("0" in Qt's mask letters), the
// dots are fixed and a blank shows as " ": the text is always 15 characters.
inline const QString AddressFieldMask = QStringLiteral("000.000.000.000; ");

} // namespace upgrade

#pragma once

#include <QString>

// The instrument address as the operator gives it: four groups of up to
// three digits with dots between them. The window's field is made with the
// mask, and a command line takes only what the field could hold.
namespace upgrade {

// Every place takes a digit or stays blank ("0" in Qt's mask letters), the
// dots are fixed and a blank shows as " ": the text is always 15 characters.
inline const QString AddressFieldMask = QStringLiteral("000.000.000.000; ");

// True for an address the field can hold with every group filled in
// ("10.0.0.1", "192.168.001.010"). Groups are not range-checked, as the
// field does not check them: Connect reports an address it cannot reach.
[[nodiscard]] bool FitsAddressField(const QString &address);

} // namespace upgrade

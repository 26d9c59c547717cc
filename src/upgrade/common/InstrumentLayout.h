#pragma once

#include <QString>

// Where an upgrade puts things: the kit's folders on the local disk and
// theirs on the instrument's drive.
namespace upgrade {

inline const QString InstrumentRoot = QStringLiteral("/F0:/");
inline const QString SystemFolder = QStringLiteral("/F0:/SYSTEM");
inline const QString LocalModuleRoot = QStringLiteral("Target");
inline const QString LocalSystemFiles = QStringLiteral("MainFrame");
inline const QString SignalFolder = QStringLiteral("SIGNAL");

} // namespace upgrade

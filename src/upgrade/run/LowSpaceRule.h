#pragma once

#include "upgrade/common/ModuleCatalogue.h"

#include <QStringList>

namespace upgrade {

// Below this many free bytes (4.5 MiB) the run asks before going on, when
// the box of one of the first modules is ticked; going on forces the
// signals of the second ones (compressed signals that fit).
inline constexpr quint64 LowSpaceThreshold = 4718592;
inline const QStringList LowSpaceModules = {ModuleName::QMX53, ModuleName::LPS3};
inline const QStringList ForcedOnLowSpace = {ModuleName::KRN3, ModuleName::PRZ53};

} // namespace upgrade

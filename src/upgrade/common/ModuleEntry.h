#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace upgrade {

// One module of the catalogue. `id` names the module's identification
// folder "MID<id>" on the instrument; `name` is its folder locally and there.
struct ModuleEntry
{
    qint32 id = 0;
    QString name;
    bool hasSignal = false;
};

// The catalogue owns its entries, in the order they were made.
using ModuleList = std::vector<std::unique_ptr<ModuleEntry>>;

} // namespace upgrade

#pragma once

#include "instrument/InstrumentPorts.h"
#include "upgrade/run/RunSettings.h"

#include <QString>

#include <memory>
#include <optional>

class QObject;
class TfrmVX900;

namespace upgrade {

class ModuleCatalogue;
class RunObserver;
class UpgradeRun;

// How a view wants its run made. The window and the console (a fleet's
// children included) make theirs here, so that an option is wired once.
struct RunSetup
{
    QString exeDir; // the kit's folder, with its trailing separator
    InstrumentPorts ports;
    RunSettings settings;
    // Named on the command line; else the settings file's, else the default.
    std::optional<QString> historyFile;
    bool changedOnly = false;
    bool trustSize = false;
    bool strictAudit = false;
    // The undo options (see UpgradeRun); keepSnapshots 0 leaves the default.
    bool backup = false;
    int keepSnapshots = 0;
    bool deleteDropped = false;
    int maxDelete = 100;
    std::optional<QString> restoreFrom;
    // The link's QObject parent; none leaves it to the returned pointer.
    QObject *linkOwner = nullptr;
};

// The link and the run of one view. The run refers to the link and to the
// catalogue it was given: it must go first.
struct RunParts
{
    std::unique_ptr<TfrmVX900> link;
    std::unique_ptr<UpgradeRun> run;
};

// The catalogue of the kit in `exeDir`, as every view shows it: read from
// vxUpgrade.ini, else from the module folders.
[[nodiscard]] std::unique_ptr<ModuleCatalogue> MakeCatalogue(const QString &exeDir);

// Where the runs go on record: the file named, else the settings file's,
// else the user's history.
[[nodiscard]] QString ChosenHistoryFile(const std::optional<QString> &named, const RunSettings &settings);

// The link and the run over `catalogue`, told of by `observer`.
[[nodiscard]] RunParts AssembleRun(ModuleCatalogue &catalogue, const RunSetup &setup, RunObserver &observer);

} // namespace upgrade

#include "upgrade/run/RunAssembly.h"

#include "instrument/Uvx900.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/run/UpgradeRun.h"

namespace upgrade {

std::unique_ptr<ModuleCatalogue> MakeCatalogue(const QString &exeDir)
{
    auto catalogue = std::make_unique<ModuleCatalogue>(exeDir);
    catalogue->Build();
    return catalogue;
}

QString ChosenHistoryFile(const std::optional<QString> &named, const RunSettings &settings)
{
    if (named)
        return *named;
    return settings.historyFile.isEmpty() ? RunHistory::DefaultFile() : settings.historyFile;
}

RunParts AssembleRun(ModuleCatalogue &catalogue, const RunSetup &setup, RunObserver &observer)
{
    RunParts parts;
    parts.link = std::make_unique<TfrmVX900>(setup.linkOwner, setup.ports);
    parts.run = std::make_unique<UpgradeRun>(*parts.link, catalogue, setup.exeDir, observer);
    UpgradeRun &run = *parts.run;
    run.signaturePolicy = setup.settings.signaturePolicy;
    run.historyFile = ChosenHistoryFile(setup.historyFile, setup.settings);
    run.changedOnly = setup.changedOnly;
    run.trustSize = setup.trustSize;
    run.strictAudit = setup.strictAudit;
    run.backup = setup.backup;
    if (setup.keepSnapshots > 0)
        run.keepSnapshots = setup.keepSnapshots;
    run.deleteDropped = setup.deleteDropped;
    run.maxDelete = setup.maxDelete;
    run.restoreFrom = setup.restoreFrom;
    return parts;
}

} // namespace upgrade

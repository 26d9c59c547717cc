// The copy step: the modules' trees, then the system files, sent down the
// kit check's list in the order its walk met them; the kit is not walked
// again.
#include "upgrade/run/UpgradeRun.h"

#include "platform/LocalFolder.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/kit/LocalTreeWalker.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/run/steps/ParallelSend.h"

namespace upgrade {

UpgradeRun::StepEnd UpgradeRun::copyStep()
{
    // With --sessions, the extra sessions log in while the folders are made.
    const upgrade::SessionsScope sessionsEnd = openSessions();
    // Each phase is entered by what its trees hold, whatever is sent: the
    // files below target (every module's, SIGNAL folders and uncatalogued
    // folders included), then those of both trees, as the kit check counted
    // them. So a kit whose module files are all in unticked SIGNAL folders
    // still makes its module folders. The bar follows the bytes the kit
    // check planned to send.
    for (const upgrade::KitProblem &unlisted : std::as_const(kitPlan.unlistedOutsidePlan))
        reportUnlistedFolder(WalkFailure{unlisted.localPath, {}, 0, unlisted.detail});
    const qint64 filesInTarget = kitPlan.moduleTreeFiles;
    const qint64 filesInBoth = filesInTarget + kitPlan.systemTreeFiles;
    fileCount = filesInBoth;
    totalBytes = kitPlan.totalBytes;
    reportProgress(QString(), 0);

    if (filesInTarget != 0) {
        enter(RunStep::Modules);
        memo(QStringLiteral("Copying ALL modules ..."));
        // The count is read again before each module: nothing may change the
        // catalogue during a run, but a wrong count must not read past it.
        for (std::size_t i = 0; i < catalogue.size(); ++i) {
            ModuleEntry &entry = *catalogue.entries()[i];
            memo(QStringLiteral("** ") + entry.name);
            if (!CopyModule(entry))
                return failAndClose(upgrade::DownloadFailedText);
        }
        if (parallel && !sendCollected())
            return failAndClose(upgrade::DownloadFailedText);
    }

    if (filesInBoth != 0) {
        enter(RunStep::SystemFiles);
        memo(QString());
        memo(QStringLiteral("Copying System files ..."));
        if (!CopySystemFiles() || (parallel && !sendCollected()))
            return failAndClose(upgrade::DownloadFailedText);
    }
    return std::nullopt;
}

bool UpgradeRun::CopyModule(ModuleEntry &entry)
{
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        if (catalogue.entries()[i].get() == &entry)
            return copyPlanned(int(i), &entry);
    }
    return true; // no module of this run: nothing of it was planned
}

bool UpgradeRun::CopySystemFiles()
{
    return copyPlanned(-1, nullptr);
}

bool UpgradeRun::copyPlanned(int module, const ModuleEntry *signalOwner)
{
    // The kit check's list, in the order its walk met the entries: the kit
    // is not walked again. Every name on it has been found sendable.
    QString passedOver; // a SIGNAL folder unticked since the check, with its separator
    for (const upgrade::KitStep &step : std::as_const(kitPlan.steps)) {
        const bool folder = step.kind != upgrade::KitStep::Kind::File;
        const upgrade::PlannedFolder *planned = step.kind == upgrade::KitStep::Kind::Folder ? &kitPlan.folders[step.index]
                                                : folder ? &kitPlan.untickedSignals[step.index]
                                                         : nullptr;
        if ((planned ? planned->module : kitPlan.files[step.index].module) != module)
            continue;
        const QString &localPath = planned ? planned->localPath : kitPlan.files[step.index].localPath;
        if (!passedOver.isEmpty() && localPath.startsWith(passedOver))
            continue;
        passedOver.clear();
        throwIfStopRequested();
        if (!folder) {
            if (!copyPlannedFile(kitPlan.files[step.index]))
                return false;
            continue;
        }
        // The flag is read now, not when the kit was checked: a box ticked
        // or unticked since still counts for this module's signals.
        const bool ticked = !planned->moduleSignal || (signalOwner && signalOwner->hasSignal);
        if (!ticked) {
            passedOver = platform::JoinLocalPath(localPath, QString());
            continue;
        }
        if (!acceptInstrumentName(planned->name, localPath) || !EnsureInstrumentFolder(planned->parent, planned->name))
            return false;
        // A SIGNAL folder ticked since the check is walked now, its files
        // read as late ones.
        if (step.kind == upgrade::KitStep::Kind::UntickedSignal
            && !copyLateFolder(planned->localPath, planned->instrumentPath()))
            return false;
    }
    // The folders whose listing waits for files the copy did not send (a
    // box unticked during the copy) are checked before the tree counts as
    // copied; files collected for the sessions once they have sent them.
    if (!parallel)
        takeVerdicts(sendCheck->settle());
    return true;
}

bool UpgradeRun::copyPlannedFile(const upgrade::PlannedFile &planned)
{
    // A copy: a file read late grows the plan's list under this one.
    const FileTransfer file{planned.localPath, planned.instrumentPath, planned.size};
    if (unchanged && leftAlone(file.localPath, file.instrumentPath))
        return true;
    // Its folder is made by now; the sessions send it with the phase's others.
    if (parallel) {
        parallel->collected.push_back(file);
        return true;
    }
    memo(QStringLiteral("Copying... ") + file.instrumentPath.section(QLatin1Char('/'), -1));
    if (!uploadFile(file, true))
        return false;
    copiedBytes += file.size;
    showCopyProgress();
    return true;
}

} // namespace upgrade

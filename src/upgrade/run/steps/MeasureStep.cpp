// The run's measure step: the whole kit checked (its digests, its signature)
// before the first write, then the space question; a dry run and an audit
// end after it.
#include "upgrade/run/UpgradeRun.h"

#include "instrument/Uvx900.h"
#include "platform/MessageBox.h"
#include "upgrade/kit/DigestCache.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/run/KitRefusal.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/changed/UnchangedFiles.h"
#include "upgrade/kit/KitCheckAhead.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/SendCheck.h"

#include <algorithm>
#include <memory>

namespace upgrade {

UpgradeRun::StepEnd UpgradeRun::measureStep()
{
    // The whole kit is checked before the first write: a file that can't be
    // read halfway through would otherwise fail the run after the files
    // before it had replaced the instrument's. The view shows the pointer
    // busy from here on.
    enter(RunStep::Measure);
    if (!checkKit())
        return failAndClose(upgrade::KitRefusedText(refusalReasons()));
    throwIfStopRequested();
    {
        QStringList planned;
        for (const upgrade::PlannedFile &file : std::as_const(kitPlan.files))
            planned.append(file.instrumentPath);
        sendCheck->begin(planned);
    }
    totalBytes = kitPlan.totalBytes;
    if (mode == RunMode::Audit)
        return endAudit();
    if (!SpaceAllowsCopy(freeBytes, lowSpaceAnswered)) {
        link.Disconnect();
        return ended(RunOutcome::Declined, QStringLiteral("Declined at the space question."));
    }
    if (mode == RunMode::DryRun)
        return endDryRun();

    if (changedOnly && !historyFile.isEmpty())
        unchanged = std::make_unique<upgrade::UnchangedFiles>(*drive, historyFile, trustSize);
    return std::nullopt;
}

RunResult UpgradeRun::endDryRun()
{
    // The run never makes "/F0:/SYSTEM": the NAME files (with any module
    // catalogued) and the system files need it there, so a dry run ends
    // where the run would fail, with the same box.
    const bool systemFilesSent = std::any_of(kitPlan.files.cbegin(), kitPlan.files.cend(),
                                             [](const upgrade::PlannedFile &file) { return file.module < 0; });
    if ((catalogue.size() > 0 || systemFilesSent) && !link.ChangeDirectory(upgrade::SystemFolder)) {
        throwIfStopRequested();
        memo(QStringLiteral("Dry run: \"%1\" can't be entered, so the run would end here.").arg(upgrade::SystemFolder));
        return failAndClose(catalogue.size() > 0 ? upgrade::NameFilesFailedText : upgrade::DownloadFailedText);
    }
    throwIfStopRequested();
    if (changedOnly && !historyFile.isEmpty())
        leaveOutUnchanged();
    // The files a run would remove, and a refusal beyond the limit, as the run has them.
    if (StepEnd end = undoPlanStep())
        return *end;
    link.Disconnect();
    return ended(RunOutcome::Succeeded, QStringLiteral("Dry run: the upgrade would go ahead; nothing was written."));
}

void UpgradeRun::leaveOutUnchanged()
{
    // What a changed-only run would leave alone leaves the plan the dry run
    // shows, and one line says so as the run would. Asked of the drive
    // lookup: nothing is written.
    upgrade::UnchangedFiles preview(*drive, historyFile, trustSize);
    QList<upgrade::PlannedFile> toSend;
    for (const upgrade::PlannedFile &file : std::as_const(kitPlan.files)) {
        const std::optional<upgrade::UnchangedFiles::Verdict> verdict = preview.check(
            QString::fromLatin1(link.IdentityReply), runAddress, file.instrumentPath, file.size, file.sha256.toHex());
        throwIfStopRequested();
        if (!verdict) {
            toSend.append(file);
            continue;
        }
        preview.skipped(file.size, *verdict);
        kitPlan.totalBytes -= file.size;
    }
    if (const QString problem = preview.indexProblem(); !problem.isEmpty())
        memo(problem);
    kitPlan.files = toSend;
    memo(preview.summary(true));
}

QStringList UpgradeRun::refusalReasons() const
{
    QStringList reasons;
    for (const upgrade::KitProblem &problem : std::as_const(kitPlan.problems))
        reasons.append(problem.text());
    if (signature.refused())
        reasons.append(signature.lines);
    return reasons;
}

bool UpgradeRun::checkKit()
{
    // Started with the run, unless this step is called on its own.
    std::unique_ptr<upgrade::KitCheckAhead> ahead = std::move(kitAhead);
    if (!ahead)
        ahead = std::make_unique<upgrade::KitCheckAhead>(exeDir, catalogue.entries(), historyFile);
    kitPlan = ahead->take(catalogue.entries());
    runRecord.takePlan(kitPlan);
    for (const upgrade::KitProblem &problem : std::as_const(kitPlan.problems))
        memo(problem.text());
    for (const QString &line : std::as_const(signaturePolicy.settingProblems))
        memo(line);
    // Checked against the digests just taken: what is vouched for is what
    // the run will send.
    signature = upgrade::CheckKitSignature(kitPlan, signaturePolicy);
    for (const QString &line : signature.lines)
        memo(line);
    if (signature.verdict == upgrade::SignatureVerdict::Accepted) {
        runRecord.signerKey = signature.keyNumber;
        runRecord.signerComment = signature.comment;
    }
    return kitPlan.sendable() && !signature.refused();
}

} // namespace upgrade

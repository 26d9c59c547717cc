#include "upgrade/run/UpgradeRun.h"

#include "instrument/Uvx900.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/audit/KitAudit.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/drive/DriveLookup.h"

#include <memory>

namespace upgrade {

RunResult UpgradeRun::endAudit()
{
    std::unique_ptr<upgrade::SendIndex> index;
    if (!historyFile.isEmpty())
        index = std::make_unique<upgrade::SendIndex>(historyFile);
    upgrade::KitAudit audit(*drive, index.get(),
                            upgrade::InstrumentKey(QString::fromLatin1(link.IdentityReply), runAddress));
    auditReport = audit.run(kitPlan);
    throwIfStopRequested();
    if (index && !index->problem().isEmpty())
        memo(QStringLiteral("The history's index: ") + index->problem());
    if (!auditReport.method.isEmpty())
        memo(auditReport.method);
    runRecord.audit = auditReport.toJson(strictAudit);
    if (!auditReport.problem.isEmpty()) {
        // As a run that can't read the drive: it could not tell either.
        const QString text = QStringLiteral("Audit: the drive could not be read: ") + auditReport.problem;
        memo(text);
        link.Disconnect();
        return ended(RunOutcome::Failed, text);
    }
    if (auditReport.toldNothing()) {
        // Every file "size unknown": calling that a clean audit would vouch
        // for a drive nobody looked into.
        const QString text = QStringLiteral("Audit: nothing on the instrument could tell the size of any of the "
                                            "kit's %1 file(s): the audit could not be made; nothing was written.")
                                 .arg(auditReport.files.size() - auditReport.count(upgrade::AuditVerdict::Extra));
        memo(text);
        link.Disconnect();
        return ended(RunOutcome::Failed, text);
    }
    link.Disconnect();
    const int notMatching = auditReport.count(upgrade::AuditVerdict::Differs)
                            + auditReport.count(upgrade::AuditVerdict::Missing)
                            + (strictAudit ? auditReport.count(upgrade::AuditVerdict::UnknownOrigin)
                                                 + auditReport.count(upgrade::AuditVerdict::SizeUnknown)
                                           : 0);
    return ended(RunOutcome::Succeeded,
                 notMatching == 0
                     ? QStringLiteral("Audit: the instrument holds the kit; nothing was written.")
                     : QStringLiteral("Audit: %1 file(s) of the kit are not on the instrument as sent; nothing was "
                                      "written.")
                           .arg(notMatching));
}

} // namespace upgrade

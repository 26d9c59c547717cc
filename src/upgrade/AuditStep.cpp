#include "upgrade/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/KitAudit.h"
#include "upgrade/SendIndex.h"

#include <memory>

RunResult UpgradeRun::endAudit()
{
    std::unique_ptr<upgrade::SendIndex> index;
    if (!historyFile.isEmpty())
        index = std::make_unique<upgrade::SendIndex>(historyFile);
    upgrade::KitAudit audit(link, index.get(),
                            upgrade::InstrumentKey(QString::fromLatin1(link.IdentityReply), runAddress));
    // SIZE answers in the image type only; the type writes nothing.
    link.SetTransferType(TTransferType::Image);
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
    link.Disconnect();
    const int notMatching = auditReport.count(upgrade::AuditVerdict::Differs)
                            + auditReport.count(upgrade::AuditVerdict::Missing)
                            + (strictAudit ? auditReport.count(upgrade::AuditVerdict::UnknownOrigin) : 0);
    return ended(RunOutcome::Succeeded,
                 notMatching == 0
                     ? QStringLiteral("Audit: the instrument holds the kit; nothing was written.")
                     : QStringLiteral("Audit: %1 file(s) of the kit are not on the instrument as sent; nothing was "
                                      "written.")
                           .arg(notMatching));
}

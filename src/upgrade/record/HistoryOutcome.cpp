#include "upgrade/record/HistoryOutcome.h"

#include "upgrade/record/RunRecord.h"

#include <QJsonObject>
#include <QStringList>

namespace upgrade {
namespace {

// What the audit found, worst first; keys of verdicts this version does not
// know (a newer tool's record) are shown by their key rather than dropped.
QString auditCounts(const QJsonObject &audit)
{
    const QJsonObject counts = audit.value(recordfield::audit::Counts).toObject();
    static const QList<std::pair<QString, QString>> named{{recordfield::audit::Missing, "missing"},
                                                          {recordfield::audit::Differs, "differ"},
                                                          {recordfield::audit::UnknownOrigin, "origin unknown"},
                                                          {recordfield::audit::Extra, "extra"}};
    QStringList found;
    QStringList shown{recordfield::audit::Matches};
    for (const auto &[key, words] : named) {
        shown << key;
        if (const int n = counts.value(key).toInt(); n > 0)
            found << QStringLiteral("%1 %2").arg(n).arg(words);
    }
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it) {
        if (!shown.contains(it.key()) && it.value().toInt() > 0)
            found << QStringLiteral("%1 %2").arg(it.value().toInt()).arg(it.key());
    }
    const int matches = counts.value(QStringLiteral("matches")).toInt();
    const bool partial = audit.contains(QStringLiteral("problem"));
    if (matches > 0)
        found << (found.isEmpty() && !partial ? QStringLiteral("all %1 match") : QStringLiteral("%1 match")).arg(matches);
    // An audit stopped before its first listing, or of an instrument that
    // never answered, read nothing at all.
    if (partial)
        found << (found.isEmpty() ? QStringLiteral("drive not read") : QStringLiteral("drive not fully read"));
    return found.join(QStringLiteral(", "));
}

} // namespace

QString HistoryOutcomeText(const RunRecord &record)
{
    if (!record.restoredFrom.isEmpty())
        return record.outcome + (record.dryRun ? QStringLiteral(" (restore, dry run)") : QStringLiteral(" (restore)"));
    if (record.dryRun)
        return record.outcome + QStringLiteral(" (dry run)");
    if (!record.audit.isEmpty()) {
        const QString counts = auditCounts(record.audit);
        if (record.outcome == QLatin1String("succeeded"))
            return QStringLiteral("audit: ") + (counts.isEmpty() ? QStringLiteral("no file compared") : counts);
        return record.outcome + QStringLiteral(" (audit") + (counts.isEmpty() ? QString() : QStringLiteral(": ") + counts) + u')';
    }
    if (const std::optional<RestartVerdict> restart = RestartVerdictOf(record.reboot))
        return record.outcome + QStringLiteral(", restart ") + RestartVerdictName(*restart);
    return record.outcome;
}

} // namespace upgrade

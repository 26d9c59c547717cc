// The fleet's view as JSON, for scripts: --report with --json.
#include "report/FleetModel.h"

#include "fleet/FleetReport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

namespace report {

namespace {

QJsonValue timeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonObject rowJson(const InstrumentRow &row)
{
    namespace key = fleet::recordkey;
    QJsonArray timeline;
    for (const TimelineEntry &e : row.timeline) {
        timeline.append(QJsonObject{{"started", timeJson(e.started)},
                                    {"kind", e.kind},
                                    {key::Outcome, e.outcome},
                                    {key::Step, e.step},
                                    {key::Message, fleet::joinDetail(e.message, e.note)},
                                    {key::Reboot, e.reboot},
                                    {key::Address, e.address},
                                    {"host", e.host},
                                    {"kitDigest", QString::fromLatin1(e.kitDigest)},
                                    {"files", QJsonArray::fromStringList(e.files)},
                                    {"moreFiles", e.moreFiles}});
    }
    QJsonObject audit;
    if (row.lastAudit) {
        QJsonObject counts;
        for (auto it = row.lastAudit->counts.cbegin(); it != row.lastAudit->counts.cend(); ++it)
            counts.insert(it.key(), it.value());
        audit = QJsonObject{{"started", timeJson(row.lastAudit->started)},
                            {"verdict", row.lastAudit->verdict},
                            {"counts", counts}};
    }
    return QJsonObject{
        {"key", row.key},
        {"manufacturer", row.manufacturer},
        {"model", row.model},
        {"serial", row.serial},
        {"addresses", QJsonArray::fromStringList(row.addresses)},
        {key::Identity, row.identity},
        {"lastSeen", timeJson(row.lastSeen)},
        {"state", StateKey(row.state)},
        {"kit", row.kitDigest.isEmpty() ? QJsonValue()
                                        : QJsonObject{{"kitDigest", QString::fromLatin1(row.kitDigest)},
                                                      {"signerComment", row.signerComment},
                                                      {"since", timeJson(row.kitSince)},
                                                      {"verified", row.kitVerified}}},
        {"lastUpgrade", row.lastUpgradeOutcome.isEmpty()
                            ? QJsonValue()
                            : QJsonObject{{"started", timeJson(row.lastUpgrade)},
                                          {key::Outcome, row.lastUpgradeOutcome},
                                          {key::Message, row.lastUpgradeMessage}}},
        {"lastAudit", row.lastAudit ? QJsonValue(audit) : QJsonValue()},
        {key::Reboot, row.reboot},
        {"runs", row.runs},
        {"failures", row.failures},
        {"timeline", timeline},
        {"earlierRuns", row.earlierRuns},
    };
}

} // namespace

QJsonObject FleetView::toJson() const
{
    QJsonArray sourceArray;
    for (const SourceFile &s : sources)
        sourceArray.append(QJsonObject{{"file", s.file}, {"records", double(s.records)}, {"damagedLines", s.damagedLines}});
    QJsonArray kitArray;
    for (const KitCount &k : kits)
        kitArray.append(QJsonObject{{"kitDigest", QString::fromLatin1(k.kitDigest)},
                                    {"signerComment", k.signerComment},
                                    {"instruments", k.instruments}});
    QJsonArray rowArray;
    for (const InstrumentRow &row : rows)
        rowArray.append(rowJson(row));
    return QJsonObject{
        {"generated", timeJson(generated)},
        {"since", timeJson(since)},
        {"sources", sourceArray},
        {"kits", kitArray},
        {"recentDays", FleetModel::RecentDays},
        {"recentRuns", recentRuns},
        {"recentFailures", recentFailures},
        {"recentAuditsWithChanges", recentAuditsWithChanges},
        {"notSeen", QJsonArray::fromStringList(notSeen)},
        {"instruments", rowArray},
    };
}

} // namespace report

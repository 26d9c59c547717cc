#include "report/FleetModel.h"

#include "fleet/FleetReport.h"
#include "instrument/InstrumentIdentity.h"
#include "upgrade/record/RunRecord.h"
#include "upgrade/record/SendIndex.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>

namespace report {
namespace {

using upgrade::recordfield::audit::Clean;
using upgrade::recordfield::audit::Counts;
using upgrade::recordfield::audit::NotMatching;
using upgrade::recordfield::audit::Problem;

// A time not on record is older than any that is.
bool later(const QDateTime &a, const QDateTime &b)
{
    return !b.isValid() || (a.isValid() && a > b);
}

bool isFailure(const QString &outcome)
{
    return outcome != upgrade::OutcomeName(upgrade::RunOutcome::Succeeded)
        && outcome != upgrade::OutcomeName(upgrade::RunOutcome::Declined);
}

bool isAudit(const upgrade::RunRecord &r)
{
    return !r.audit.isEmpty();
}

// A run that wrote, or set out to: neither an audit nor a dry run, and not
// declined before the first write.
bool isUpgrade(const upgrade::RunRecord &r)
{
    return !isAudit(r) && !r.dryRun && r.outcome != upgrade::OutcomeName(upgrade::RunOutcome::Declined);
}

// The audit compared the drive with the kit, whatever it found.
bool auditCompared(const QJsonObject &audit)
{
    return audit.value(Counts).isObject() && !audit.contains(Problem);
}

bool auditFoundChanges(const QJsonObject &audit)
{
    return auditCompared(audit) && !audit.value(Clean).toBool();
}

AuditSummary auditOf(const upgrade::RunRecord &r)
{
    AuditSummary summary;
    summary.started = r.started;
    const QJsonObject counts = r.audit.value(Counts).toObject();
    for (auto it = counts.begin(); it != counts.end(); ++it)
        summary.counts.insert(it.key(), it.value().toInt());
    if (!auditCompared(r.audit)) {
        const QString why = r.audit.value(Problem).toString(r.message);
        summary.verdict = QStringLiteral("could not be made") + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    } else {
        summary.verdict = r.audit.value(Clean).toBool() ? QStringLiteral("matches the kit")
                                                              : QStringLiteral("found changes");
    }
    return summary;
}

QString verifiedText(const QList<upgrade::RecordedFile> &files)
{
    using upgrade::FileOutcome;
    int verified = 0;
    int unverifiable = 0;
    for (const upgrade::RecordedFile &f : files) {
        verified += f.outcome == FileOutcome::SentVerified || f.outcome == FileOutcome::AlreadyThere;
        unverifiable += f.outcome == FileOutcome::SentNotVerifiable;
    }
    QString text = QStringLiteral("%1 of %2 files verified").arg(verified).arg(files.size());
    if (unverifiable > 0)
        text += QStringLiteral(", %1 not verifiable").arg(unverifiable);
    return text;
}

TimelineEntry entryOf(const upgrade::RunRecord &r, const QList<upgrade::RecordedFile> &files)
{
    TimelineEntry entry{r.started,
                        isAudit(r) ? QStringLiteral("audit") : r.dryRun ? QStringLiteral("dry run") : QStringLiteral("upgrade"),
                        r.outcome, r.step, r.message, r.note, r.reboot, r.address,
                        r.user.isEmpty() ? r.host : r.user + u'@' + r.host, r.kitDigest, {}, 0};
    const auto addFile = [&entry](const QString &text) {
        if (entry.files.size() < FleetModel::MaxFilesShown)
            entry.files.append(text);
        else
            ++entry.moreFiles;
    };
    for (const upgrade::RecordedFile &f : files) {
        if (f.outcome == upgrade::FileOutcome::Failed)
            addFile(f.instrumentPath + QStringLiteral(": failed"));
    }
    for (const QJsonValue &value : r.audit.value(NotMatching).toArray()) {
        const QJsonObject f = value.toObject();
        addFile(f.value(upgrade::recordfield::audit::Path).toString() + QStringLiteral(": ")
                + f.value(upgrade::recordfield::audit::Verdict).toString());
    }
    return entry;
}

} // namespace

QString StateWord(RowState state)
{
    switch (state) {
    case RowState::UpToDate: return QStringLiteral("up to date");
    case RowState::Drifted: return QStringLiteral("drifted");
    case RowState::Failed: return QStringLiteral("failed");
    case RowState::NotConfirmed: return QStringLiteral("not confirmed");
    case RowState::Unknown: break;
    }
    return QStringLiteral("unknown");
}

QString StateSymbol(RowState state)
{
    switch (state) {
    case RowState::UpToDate: return QStringLiteral("\u2713");     // check mark
    case RowState::Drifted: return QStringLiteral("\u2260");      // not equal
    case RowState::Failed: return QStringLiteral("\u2717");       // ballot x
    case RowState::NotConfirmed: return QStringLiteral("\u26A0"); // warning sign
    case RowState::Unknown: break;
    }
    return QStringLiteral("?");
}

QString StateKey(RowState state)
{
    return StateWord(state).replace(u' ', u'-');
}

// What one instrument's runs add up to; the row's "latest" fields double as
// the times against which later runs are compared.
struct FleetModel::Tally
{
    InstrumentRow row;
    QSet<QString> addresses;
    // The latest audit that compared the drive with the kit.
    QDateTime comparedAt;
    bool comparedClean = false;
    // With a full timeline: its oldest run, older than any it will take.
    QDateTime timelineFloor;

    void add(const upgrade::VisitedRecord &visited)
    {
        const upgrade::RunRecord &r = visited.record;
        ++row.runs;
        row.failures += isFailure(r.outcome);
        if (!r.address.isEmpty())
            addresses.insert(r.address);
        if (!r.identity.isEmpty() && later(r.started, row.lastSeen)) {
            row.lastSeen = r.started;
            row.identity = r.identity;
        }
        if (isUpgrade(r) && later(r.started, row.lastUpgrade)) {
            row.lastUpgrade = r.started;
            row.lastUpgradeOutcome = r.outcome;
            row.lastUpgradeMessage = fleet::joinDetail(r.message, r.note);
            row.reboot = r.reboot;
        }
        if (isUpgrade(r) && r.outcome == upgrade::OutcomeName(upgrade::RunOutcome::Succeeded) && later(r.started, row.kitSince)) {
            row.kitSince = r.started;
            row.kitDigest = r.kitDigest;
            row.signerComment = r.signerKey.isEmpty() ? QString() : r.signerComment;
            row.kitVerified = verifiedText(visited.files());
        }
        if (isAudit(r) && (!row.lastAudit || later(r.started, row.lastAudit->started)))
            row.lastAudit = auditOf(r);
        if (isAudit(r) && auditCompared(r.audit) && later(r.started, comparedAt)) {
            comparedAt = r.started;
            comparedClean = !auditFoundChanges(r.audit);
        }
        // Read newest first, a full timeline soon takes no older run.
        if (timelineFloor.isValid() && !later(r.started, timelineFloor))
            return;
        row.timeline.append(entryOf(r, visited.files()));
        if (row.timeline.size() >= 2 * MaxTimeline)
            trimTimeline();
    }

    void merge(const Tally &other)
    {
        const InstrumentRow &o = other.row;
        row.runs += o.runs;
        row.failures += o.failures;
        addresses.unite(other.addresses);
        if (later(o.lastSeen, row.lastSeen)) {
            row.lastSeen = o.lastSeen;
            row.identity = o.identity;
        }
        if (later(o.lastUpgrade, row.lastUpgrade)) {
            row.lastUpgrade = o.lastUpgrade;
            row.lastUpgradeOutcome = o.lastUpgradeOutcome;
            row.lastUpgradeMessage = o.lastUpgradeMessage;
            row.reboot = o.reboot;
        }
        if (later(o.kitSince, row.kitSince)) {
            row.kitSince = o.kitSince;
            row.kitDigest = o.kitDigest;
            row.signerComment = o.signerComment;
            row.kitVerified = o.kitVerified;
        }
        if (o.lastAudit && (!row.lastAudit || later(o.lastAudit->started, row.lastAudit->started)))
            row.lastAudit = o.lastAudit;
        if (later(other.comparedAt, comparedAt)) {
            comparedAt = other.comparedAt;
            comparedClean = other.comparedClean;
        }
        row.timeline += o.timeline;
        trimTimeline();
    }

    void trimTimeline()
    {
        std::stable_sort(row.timeline.begin(), row.timeline.end(),
                         [](const TimelineEntry &a, const TimelineEntry &b) { return later(a.started, b.started); });
        if (row.timeline.size() >= MaxTimeline) {
            row.timeline.resize(MaxTimeline);
            timelineFloor = row.timeline.last().started;
        }
    }

    // The latest word on the drive decides: an audit that compared it, or
    // else the latest upgrade.
    [[nodiscard]] RowState state() const
    {
        if (comparedAt.isValid() && later(comparedAt, row.lastUpgrade))
            return comparedClean ? RowState::UpToDate : RowState::Drifted;
        if (row.lastUpgradeOutcome.isEmpty())
            return RowState::Unknown;
        if (row.lastUpgradeOutcome != upgrade::OutcomeName(upgrade::RunOutcome::Succeeded))
            return RowState::Failed;
        return upgrade::RestartVerdictOf(row.reboot) != upgrade::RestartVerdict::NotConfirmed ? RowState::UpToDate
                                                                                          : RowState::NotConfirmed;
    }

    [[nodiscard]] InstrumentRow finished(const QString &key) const
    {
        InstrumentRow done = row;
        Tally copy = *this;
        copy.trimTimeline();
        done.timeline = copy.row.timeline;
        done.key = key;
        const InstrumentIdentity identity = InstrumentIdentity::FromReply(row.identity.toUtf8());
        done.manufacturer = identity.manufacturer;
        done.model = identity.model;
        done.serial = identity.serial;
        done.addresses = QStringList(addresses.cbegin(), addresses.cend());
        done.addresses.sort();
        done.state = state();
        done.earlierRuns = done.runs - int(done.timeline.size());
        return done;
    }
};

FleetModel::FleetModel(QDateTime now, QDateTime since)
    : now(std::move(now))
    , since(std::move(since))
{
}

FleetModel::~FleetModel() = default;

void FleetModel::add(const upgrade::RunRecord &record)
{
    add(upgrade::VisitedRecord{record, {}});
}

void FleetModel::add(const upgrade::VisitedRecord &visited)
{
    const upgrade::RunRecord &record = visited.record;
    if (since.isValid() && (!record.started.isValid() || record.started < since))
        return;
    if (record.started.isValid() && record.started >= now.addDays(-RecentDays)) {
        ++recentRuns;
        recentFailures += isFailure(record.outcome);
        recentAuditsWithChanges += isAudit(record) && auditFoundChanges(record.audit);
    }
    // A run that never heard the instrument answer can only be placed by
    // its address.
    const bool heard = !record.identity.isEmpty();
    auto &tallies = heard ? identified : unidentified;
    QString key = record.address;
    if (heard) {
        const QString said = record.identity + QChar(0) + record.address;
        auto known = keys.constFind(said);
        if (known == keys.cend())
            known = keys.insert(said, upgrade::InstrumentKey(record.identity, record.address));
        key = *known;
    }
    std::unique_ptr<Tally> &tally = tallies[key];
    if (!tally)
        tally = std::make_unique<Tally>();
    tally->add(visited);
}

void FleetModel::addSource(const SourceFile &source)
{
    sources.append(source);
}

FleetView FleetModel::view() const
{
    std::map<QString, Tally> all;
    for (const auto &[key, tally] : identified)
        all.emplace(key, *tally);
    for (const auto &[address, tally] : unidentified) {
        // Given to the instrument known at that address; with none, or
        // several (addresses move), it stands on its own.
        Tally *owner = nullptr;
        int owners = 0;
        for (auto &[key, known] : all) {
            if (known.row.identity.isEmpty() || !known.addresses.contains(address))
                continue;
            owner = &known;
            ++owners;
        }
        if (owners == 1)
            owner->merge(*tally);
        else
            all[address].merge(*tally);
    }

    FleetView view;
    view.generated = now;
    view.since = since;
    view.sources = sources;
    view.recentRuns = recentRuns;
    view.recentFailures = recentFailures;
    view.recentAuditsWithChanges = recentAuditsWithChanges;
    QMap<QByteArray, KitCount> kits;
    for (const auto &[key, tally] : all) {
        InstrumentRow row = tally.finished(key);
        if (!row.lastSeen.isValid() || row.lastSeen < now.addDays(-RecentDays))
            view.notSeen.append(row.key);
        if (!row.kitDigest.isEmpty()) {
            KitCount &kit = kits[row.kitDigest];
            kit.kitDigest = row.kitDigest;
            if (kit.signerComment.isEmpty())
                kit.signerComment = row.signerComment;
            ++kit.instruments;
        }
        view.rows.append(std::move(row));
    }
    view.kits = kits.values();
    std::stable_sort(view.kits.begin(), view.kits.end(),
                     [](const KitCount &a, const KitCount &b) { return a.instruments > b.instruments; });
    return view;
}

} // namespace report

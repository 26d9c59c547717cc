#include "fleet/InstrumentState.h"

#include <algorithm>

namespace fleet {

QString InstrumentState::auditText() const
{
    if (audit.isEmpty())
        return {};
    namespace key = upgrade::recordfield::audit;
    const QJsonObject counts = audit.value(key::Counts).toObject();
    return QStringLiteral("%1 match, %2 unknown origin, %3 differ, %4 missing, %5 extra")
        .arg(counts.value(key::Matches).toInt())
        .arg(counts.value(key::UnknownOrigin).toInt())
        .arg(counts.value(key::Differs).toInt())
        .arg(counts.value(key::Missing).toInt())
        .arg(counts.value(key::Extra).toInt());
}

QString outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Waiting: return QStringLiteral("waiting");
    case Outcome::Running: return QStringLiteral("running");
    case Outcome::Succeeded:
    case Outcome::Failed:
    case Outcome::Declined:
    case Outcome::Stopped:
        break;
    }
    return upgrade::OutcomeName(*runOutcomeOf(outcome));
}

std::optional<upgrade::RunOutcome> runOutcomeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Succeeded: return upgrade::RunOutcome::Succeeded;
    case Outcome::Failed: return upgrade::RunOutcome::Failed;
    case Outcome::Declined: return upgrade::RunOutcome::Declined;
    case Outcome::Stopped: return upgrade::RunOutcome::Stopped;
    case Outcome::Waiting:
    case Outcome::Running:
        break;
    }
    return std::nullopt;
}

Outcome outcomeOf(upgrade::RunOutcome outcome)
{
    switch (outcome) {
    case upgrade::RunOutcome::Succeeded: return Outcome::Succeeded;
    case upgrade::RunOutcome::Declined: return Outcome::Declined;
    case upgrade::RunOutcome::Stopped: return Outcome::Stopped;
    case upgrade::RunOutcome::Failed: break;
    }
    return Outcome::Failed;
}

bool hasEnded(Outcome outcome)
{
    return outcome != Outcome::Waiting && outcome != Outcome::Running;
}

QString InstrumentState::stepText() const
{
    switch (outcome) {
    case Outcome::Waiting: return QStringLiteral("waiting");
    case Outcome::Succeeded: return QStringLiteral("done");
    case Outcome::Failed:
    case Outcome::Declined:
    case Outcome::Stopped:
        return message.isEmpty() ? outcomeName(outcome) : outcomeName(outcome) + QStringLiteral(": ") + message;
    case Outcome::Running: break;
    }
    if (step == QLatin1String("names"))
        return QStringLiteral("NAME files");
    if (step == QLatin1String("system"))
        return QStringLiteral("system files");
    if (step.isEmpty())
        return QStringLiteral("starting");
    return stepDetail.isEmpty() ? step : step + u' ' + stepDetail;
}

int InstrumentState::percent() const
{
    if (bytesTotal <= 0)
        return -1;
    return int(std::clamp<qint64>(bytesDone * 100 / bytesTotal, 0, 100));
}

double InstrumentState::rate(qint64 nowMs) const
{
    if (copyStartMs < 0 || nowMs <= copyStartMs)
        return 0.0;
    return double(bytesDone) * 1000.0 / double(nowMs - copyStartMs);
}

} // namespace fleet

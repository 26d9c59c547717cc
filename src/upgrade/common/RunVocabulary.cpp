#include "upgrade/common/RunVocabulary.h"

#include <array>
#include <utility>

namespace upgrade {
namespace {

constexpr std::array<std::pair<RunOutcome, const char *>, 4> OutcomeNames{{
    {RunOutcome::Succeeded, "succeeded"},
    {RunOutcome::Failed, "failed"},
    {RunOutcome::Declined, "declined"},
    {RunOutcome::Stopped, "stopped"},
}};

constexpr std::array<std::pair<FileOutcome, const char *>, 5> FileOutcomeNames{{
    {FileOutcome::NotSent, "not-sent"},
    {FileOutcome::SentVerified, "sent-verified"},
    {FileOutcome::SentNotVerifiable, "sent-not-verifiable"},
    {FileOutcome::Failed, "failed"},
    {FileOutcome::AlreadyThere, "already-there"},
}};

// Each step's name in the history and in a fleet child's announcement.
struct StepNames
{
    RunStep step;
    const char *recorded;
    const char *announced;
};
constexpr std::array<StepNames, 11> StepTable{{
    {RunStep::Connect, "connect", "connecting"},
    {RunStep::DriveCheck, "drive check", "checking"},
    {RunStep::LowSpace, "low space", "checking"},
    {RunStep::Measure, "kit check", "checking"},
    {RunStep::Snapshot, "snapshot", "snapshot"},
    {RunStep::Restore, "restore", "restoring"},
    {RunStep::NameFiles, "name files", "names"},
    {RunStep::Modules, "modules", "module"},
    {RunStep::SystemFiles, "system files", "system"},
    {RunStep::DeleteDropped, "delete dropped", "deleting"},
    {RunStep::Finish, "finish", "finishing"},
}};

template <typename Table, typename Value>
QString nameIn(const Table &table, Value value)
{
    for (const auto &[v, text] : table) {
        if (v == value)
            return QLatin1String(text);
    }
    return QString();
}

template <typename Value, typename Table>
std::optional<Value> valueIn(const Table &table, const QString &name)
{
    for (const auto &[value, text] : table) {
        if (name == QLatin1String(text))
            return value;
    }
    return std::nullopt;
}

const StepNames &namesOf(RunStep step)
{
    for (const StepNames &names : StepTable) {
        if (names.step == step)
            return names;
    }
    return StepTable.back();
}

} // namespace

QString OutcomeName(RunOutcome outcome)
{
    return nameIn(OutcomeNames, outcome);
}

std::optional<RunOutcome> OutcomeNamed(const QString &name)
{
    return valueIn<RunOutcome>(OutcomeNames, name);
}

QString CrashedOutcomeName()
{
    return QStringLiteral("crashed");
}

QString StepName(RunStep step)
{
    return QLatin1String(namesOf(step).recorded);
}

QString ChildStepName(RunStep step)
{
    return QLatin1String(namesOf(step).announced);
}

QString FileOutcomeName(FileOutcome outcome)
{
    return nameIn(FileOutcomeNames, outcome);
}

std::optional<FileOutcome> FileOutcomeNamed(const QString &name)
{
    return valueIn<FileOutcome>(FileOutcomeNames, name);
}

ExitStatus ExitStatusOf(RunOutcome outcome, bool rebootNotConfirmed, bool auditNotMatching)
{
    switch (outcome) {
    case RunOutcome::Succeeded:
        return rebootNotConfirmed ? ExitNotConfirmed : auditNotMatching ? ExitNotMatching : ExitUpgraded;
    case RunOutcome::Declined:
        return ExitDeclined;
    case RunOutcome::Failed:
    case RunOutcome::Stopped:
        break;
    }
    return ExitFailed;
}

QString RestartText(RestartVerdict verdict, const QString &why)
{
    return verdict == RestartVerdict::Confirmed ? RestartVerdictName(verdict)
                                                : RestartVerdictName(verdict) + QStringLiteral(": ") + why;
}

std::optional<RestartVerdict> RestartVerdictOf(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    return text == RestartVerdictName(RestartVerdict::Confirmed) ? RestartVerdict::Confirmed
                                                                 : RestartVerdict::NotConfirmed;
}

QString RestartVerdictName(RestartVerdict verdict)
{
    return verdict == RestartVerdict::Confirmed ? QStringLiteral("confirmed") : QStringLiteral("not confirmed");
}

QString RestartNotConfirmedWhy(const QString &text)
{
    return text.section(QStringLiteral(": "), 1);
}

} // namespace upgrade

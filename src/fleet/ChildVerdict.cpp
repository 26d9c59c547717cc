#include "fleet/ChildVerdict.h"

#include "fleet/ChildProtocol.h"
#include "fleet/FleetReport.h"
#include "upgrade/common/RunVocabulary.h"

#include <csignal>
#include <cstring>

namespace fleet {

namespace {

// The end a record names; Waiting when it names none.
Outcome outcomeFromName(const QString &name)
{
    const std::optional<upgrade::RunOutcome> outcome = upgrade::OutcomeNamed(name);
    return outcome ? outcomeOf(*outcome) : Outcome::Waiting;
}

// Whether a child's exit status is the one a single run gives for that end
// (Ctrl-C ends a single run with the status of a failure).
bool exitAgrees(Outcome outcome, int exitCode, const InstrumentState &state)
{
    const std::optional<upgrade::RunOutcome> ended = runOutcomeOf(outcome);
    return ended
           && exitCode == upgrade::ExitStatusOf(*ended, state.rebootNotConfirmed(), state.auditNotMatching());
}

ChildVerdict crashVerdict(const ChildEnd &end)
{
    const int signal = end.exitCode;
    ChildVerdict verdict;
    verdict.childExit = QStringLiteral("signal %1").arg(signal);
    if (end.killed) {
        verdict.outcome = Outcome::Stopped;
        verdict.message = QStringLiteral("killed: still running %1 s after SIGTERM")
                              .arg(double(end.sinceTerminateMs) / 1000.0, 0, 'f', 1);
    } else if (end.terminated && signal == SIGTERM) {
        verdict.outcome = Outcome::Stopped;
        verdict.message = QStringLiteral("ended by SIGTERM without its record");
    } else {
        verdict.outcome = Outcome::Failed;
        verdict.message = joinDetail(QStringLiteral("crashed (signal %1, %2)")
                                         .arg(signal)
                                         .arg(QString::fromLocal8Bit(::strsignal(signal))),
                                     end.lastErrorLine);
    }
    return verdict;
}

ChildVerdict exitVerdict(const ChildEnd &end, const QJsonObject &record, const InstrumentState &state)
{
    const Outcome recorded = outcomeFromName(record.value(recordkey::Outcome).toString());
    const QString recordedMessage = record.value(recordkey::Message).toString();
    ChildVerdict verdict;
    verdict.childExit = QStringLiteral("exit status %1").arg(end.exitCode);
    if (exitAgrees(recorded, end.exitCode, state)) {
        verdict.outcome = recorded;
        verdict.message = recordedMessage;
    } else if (!record.isEmpty()) {
        // A record that claims more than the exit status is not believed.
        verdict.outcome = Outcome::Failed;
        verdict.message = joinDetail(QStringLiteral("exit status %1 after a record that says %2")
                                         .arg(end.exitCode)
                                         .arg(outcomeName(recorded)),
                                     recordedMessage);
    } else if (end.terminated) {
        verdict.outcome = Outcome::Stopped;
        verdict.message = joinDetail(QStringLiteral("stopped, without a record"), end.lastErrorLine);
    } else {
        verdict.outcome = Outcome::Failed;
        verdict.message =
            joinDetail(QStringLiteral("ended without its record (exit status %1)").arg(end.exitCode), end.lastErrorLine);
    }
    return verdict;
}

} // namespace

ChildVerdict JudgeChildEnd(const ChildEnd &end, const QJsonObject &record, const InstrumentState &state)
{
    if (!end.startError.isEmpty())
        return {Outcome::Failed, joinDetail(QStringLiteral("could not start"), end.startError),
                QStringLiteral("not started")};
    return end.crashed ? crashVerdict(end) : exitVerdict(end, record, state);
}

} // namespace fleet

#pragma once

#include <QJsonObject>
#include <QString>

#include "upgrade/common/RunVocabulary.h"
#include "upgrade/record/RunRecord.h"

#include <optional>

namespace fleet {

// How one instrument's run stands, or how it ended. The end values match
// the "outcome" of a run's record.
enum class Outcome { Waiting, Running, Succeeded, Failed, Declined, Stopped };

[[nodiscard]] QString outcomeName(Outcome outcome);
// The same end as a run's; nothing for Waiting and Running.
[[nodiscard]] std::optional<upgrade::RunOutcome> runOutcomeOf(Outcome outcome);
[[nodiscard]] Outcome outcomeOf(upgrade::RunOutcome outcome);
[[nodiscard]] bool hasEnded(Outcome outcome);

// What the fleet knows of one instrument: gathered from its child's events
// while it runs, settled from its record and exit status at the end.
struct InstrumentState
{
    QString address;
    QString identity;
    // The step the child last reported ("module") and its detail ("KRN3").
    QString step;
    QString stepDetail;
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
    int filesSent = 0;
    // The fleet's clock at the first progress event (-1: none yet), and how
    // long the child ran, in milliseconds.
    qint64 copyStartMs = -1;
    qint64 elapsedMs = 0;
    Outcome outcome = Outcome::Waiting;
    QString message;
    // How the child ended: "exit status 0", "signal 11", "not started".
    QString childExit;
    // With --await-reboot, from the record: "confirmed" or "not confirmed:
    // ..."; empty when the restart was not awaited (or the run failed).
    QString reboot;
    [[nodiscard]] bool rebootNotConfirmed() const
    {
        return upgrade::RestartVerdictOf(reboot) == upgrade::RestartVerdict::NotConfirmed;
    }
    // With --verify, from the record: the audit's counts, how the drive was
    // seen, whether all matched ("clean"); empty for any other run.
    QJsonObject audit;
    [[nodiscard]] bool auditNotMatching() const { return !audit.isEmpty() && !audit.value(upgrade::recordfield::audit::Clean).toBool(); }
    // "12 match, 1 differs, 2 missing, 0 extra"; empty without an audit.
    [[nodiscard]] QString auditText() const;
    // The child's record, as it sent it (empty when it sent none).
    QJsonObject record;

    // "connecting", "module KRN3", "done", "failed: <message>", ...
    [[nodiscard]] QString stepText() const;
    // -1 while the total is unknown.
    [[nodiscard]] int percent() const;
    // Bytes per second since the copy began, by the fleet's clock; 0 before.
    [[nodiscard]] double rate(qint64 nowMs) const;
};

} // namespace fleet

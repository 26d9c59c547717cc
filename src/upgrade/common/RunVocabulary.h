#pragma once

#include <QString>

#include <optional>

namespace upgrade {

// The words of a run: its steps, how it ends, what became of each file and
// the exit status each end gives. The history, the fleet's table and
// records, the child protocol and the console all read them from here, so
// that a word changed here changes everywhere at once.

// The run's steps, in the order the run takes them.
enum class RunStep {
    Connect,     // the command channel, the FTP log-in and the identity check
    DriveCheck,  // "/F0:/" entered and the free space read
    LowSpace,    // the low-space question
    Measure,     // the whole kit checked and measured, and the space question
    Snapshot,    // --backup: what the run replaces fetched, before the first write
    Restore,     // --restore: a snapshot put back
    NameFiles,   // the modules' identification folders and NAME files
    Modules,     // the module trees copied
    SystemFiles, // the system files copied
    DeleteDropped, // --delete-dropped: files the new kit no longer holds removed
    Finish,      // the success box and the link closed
};

enum class RunOutcome {
    Succeeded, // everything copied, the operator told to reboot
    Failed,    // a step failed: a box, or an error raised below
    Declined,  // the operator answered No to the low-space or the space question
    Stopped,   // the operator (Quit, close, a signal) stopped the run
};

// What became of one file the run meant to send.
enum class FileOutcome {
    NotSent,
    SentVerified,      // the instrument holds as many bytes as were sent
    SentNotVerifiable, // sent, but the instrument can't tell its size
    Failed,
    // Not sent: the instrument already held it at its size, and an earlier
    // run had sent and verified this very content there (--changed-only).
    AlreadyThere,
};

// Exit statuses of vxupgrade-cli, a single run's and a fleet's.
enum ExitStatus : int {
    ExitUpgraded = 0,
    ExitFailed = 1, // a stopped run too
    ExitUsage = 2,
    ExitDeclined = 3,
    // --verify: the audit ran, and some file of the kit differs or is missing.
    ExitNotMatching = 4,
    // --await-reboot: upgraded, but the restart was not confirmed.
    ExitNotConfirmed = 5,
};

// "succeeded", "failed", "declined", "stopped": a record's "outcome".
[[nodiscard]] QString OutcomeName(RunOutcome outcome);
// Nothing for a name that is none of them ("crashed" included).
[[nodiscard]] std::optional<RunOutcome> OutcomeNamed(const QString &name);
// The outcome a fleet records for a child that ended without its record.
[[nodiscard]] QString CrashedOutcomeName();

// The step as the history records it: "connect", "drive check", ...
[[nodiscard]] QString StepName(RunStep step);
// The step as a fleet child announces it: "connecting", "checking", ...
[[nodiscard]] QString ChildStepName(RunStep step);

// "not-sent", "sent-verified", "sent-not-verifiable", "failed", "already-there".
[[nodiscard]] QString FileOutcomeName(FileOutcome outcome);
// Nothing for a name that is none of them.
[[nodiscard]] std::optional<FileOutcome> FileOutcomeNamed(const QString &name);

// The exit status of a single run that ended so; a success gives 5 when its
// restart was awaited and not confirmed, 4 when its audit found files that
// do not match.
[[nodiscard]] ExitStatus ExitStatusOf(RunOutcome outcome, bool rebootNotConfirmed = false,
                                      bool auditNotMatching = false);

// How an awaited restart ended. The record keeps it as text, "confirmed",
// or "not confirmed: " and why; that text is made and read here only.
enum class RestartVerdict { Confirmed, NotConfirmed };

// The record's text of a verdict, with why a restart was not confirmed.
[[nodiscard]] QString RestartText(RestartVerdict verdict, const QString &why = QString());
// The verdict of a record's text; nothing when the restart was not awaited
// (no text). Any text but "confirmed" is not confirmed.
[[nodiscard]] std::optional<RestartVerdict> RestartVerdictOf(const QString &text);
// "confirmed" or "not confirmed", as the tables show it.
[[nodiscard]] QString RestartVerdictName(RestartVerdict verdict);
// What kept the restart of a record's text from being confirmed.
[[nodiscard]] QString RestartNotConfirmedWhy(const QString &text);

} // namespace upgrade

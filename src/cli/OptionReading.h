#pragma once

// The pieces of reading the command line: what has been read so far, the
// modes an option belongs to, and the readers of each option's value.
#include "cli/CliOptions.h"

#include <QList>
#include <QString>

#include <utility>

namespace cli::optionreading {

struct OptionRow;

// The options read so far, and what the rules between them need to know.
struct Reading
{
    CliOptions options;
    bool addressGiven = false;
    bool addressFileGiven = false;
    bool answerGiven = false;
    // Read into the fleet's list only for a fleet, whose addresses must be
    // real ones: a single run takes what the window's field takes.
    QList<std::pair<bool, QString>> fleetSources; // (a file?, value)
    QList<const OptionRow *> given; // each option once, in the order first given
};

// Applies one option (with its value, if it takes one); returns the usage
// error, or an empty text.
using ApplyOption = QString (*)(Reading &, const QString &value);

// What the program is asked to do. Each option names the modes that use
// it; given in any other, it is refused rather than silently ignored, so
// that nobody believes an option took effect when it did not.
enum Mode : unsigned {
    Run = 1,          // an upgrade, of one instrument or a fleet
    DryRun = 2,       // --dry-run
    Audit = 4,        // --verify
    History = 8,      // --history
    Checksums = 16,   // --write-checksums
    Report = 32,      // --report
    Restore = 64,     // --restore, dry or not
};
constexpr unsigned Runs = Run | DryRun;
// A restore puts back what a snapshot kept: it reads no kit, so the options
// that choose or check one are not its own.
constexpr unsigned OnInstrument = Run | DryRun | Audit;
constexpr unsigned Addressed = OnInstrument | Restore;
constexpr unsigned AnyMode = Run | DryRun | Audit | History | Checksums | Report | Restore;

struct OptionRow
{
    const char *name;
    bool takesValue;
    ApplyOption apply;
    unsigned modes;             // the modes that take it
    Mode selects = Mode(0);     // the mode it asks for, if any
    // Only an option that adds to a list may be given more than once; any
    // other given twice would leave one of its values unused.
    bool repeatable = false;
    const char *needs = nullptr; // another option it only refines
    // The value may be left out: taken only from "=" or from a next
    // argument that is no option.
    bool optionalValue = false;
};

template<bool CliOptions::*Flag>
QString setFlag(Reading &reading, const QString &)
{
    reading.options.*Flag = true;
    return {};
}

template<LowSpaceAnswer Answer>
QString setAnswer(Reading &reading, const QString &)
{
    if (reading.answerGiven)
        return QStringLiteral("give one of --yes and --no, once");
    reading.options.lowSpace = Answer;
    reading.answerGiven = true;
    return {};
}

// Each reads one option's value into the reading; the usage error, or an
// empty text.
[[nodiscard]] QString readAddress(Reading &reading, const QString &value);
[[nodiscard]] QString readAddressFile(Reading &reading, const QString &value);
[[nodiscard]] QString readJobs(Reading &reading, const QString &value);
[[nodiscard]] QString readSignals(Reading &reading, const QString &value);
[[nodiscard]] QString readTrustedKey(Reading &reading, const QString &value);
[[nodiscard]] QString readWriteChecksums(Reading &reading, const QString &value);
[[nodiscard]] QString readHistoryFile(Reading &reading, const QString &value);
[[nodiscard]] QString readReport(Reading &reading, const QString &value);
[[nodiscard]] QString readSince(Reading &reading, const QString &value);
[[nodiscard]] QString readLast(Reading &reading, const QString &value);
[[nodiscard]] QString readRebootTimeout(Reading &reading, const QString &value);
[[nodiscard]] QString readMaxDelete(Reading &reading, const QString &value);
[[nodiscard]] QString readSessions(Reading &reading, const QString &value);
[[nodiscard]] QString readKeepSnapshots(Reading &reading, const QString &value);
[[nodiscard]] QString readRestore(Reading &reading, const QString &value);
[[nodiscard]] QString readDir(Reading &reading, const QString &value);

} // namespace cli::optionreading

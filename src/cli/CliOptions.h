#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

// How the low-space question ("Click YES to continue?") is answered.
enum class LowSpaceAnswer { AskOnTerminal, Yes, No };

// What the command line asks for. Whether a named module's box is enabled
// is checked once the catalogue has been read.
struct CliOptions
{
    QString address; // the first one given
    // Fleet mode: several addresses or an --ip-file; every address, in the
    // order given, in plain dotted form.
    bool fleet = false;
    QStringList addresses;
    int jobs = 0; // 0: the fleet's default
    bool fleetChild = false; // one instrument of a fleet, reporting in JSON lines
    QStringList signalModules; // in the order given, without repeats
    LowSpaceAnswer lowSpace = LowSpaceAnswer::AskOnTerminal;
    std::optional<QString> programDir;
    bool dryRun = false;  // check and print the plan, write nothing
    // Audit: compare the kit with the instrument's drive, write nothing;
    // strict: a file of unknown origin counts as differing.
    bool verify = false;
    bool strict = false;
    bool json = false;    // the run's record (or the history) as JSON lines on standard output
    bool history = false; // print the runs on record instead of running
    int last = 0;         // with --history: the last N records only (0: all)
    // The history (with its index and digest cache) here instead of the
    // configured or default place; absolute.
    std::optional<QString> historyFile;
    // Every --history-file, in the order given; several only for --report,
    // which merges them.
    QStringList historyFiles;
    // --report FILE: the fleet's page (its model with --json) into FILE,
    // "-" for standard output; --since: runs started before are left out.
    std::optional<QString> report;
    QDateTime since;
    // Send only what the instrument does not hold already, as verified by
    // an earlier run; --trust-size: a file of the right size is enough.
    bool changedOnly = false;
    bool trustSize = false;
    // FTP sessions sending at once; 0: auto.
    int sessions = 1;
    // After a successful upgrade, wait for the instrument to restart and
    // check what came back (exit status 5 when that is not confirmed).
    bool awaitReboot = false;
    int rebootTimeoutSeconds = 300;
    bool help = false;
    bool version = false;
    // Signed kits: refuse a kit that is not signed by a trusted key; more
    // trusted keys (each one also requires the signature).
    bool requireSignature = false;
    QStringList trustedKeys;
    // --backup: a snapshot of what the run replaces, before its first write;
    // housekeeping keeps keepSnapshots per instrument (0: the default).
    bool backup = false;
    int keepSnapshots = 0;
    // --restore [RUN]: put a snapshot back instead of upgrading (an empty
    // text: the last one of this instrument).
    std::optional<QString> restore;
    // --delete-dropped: remove what the new kit dropped, at most maxDelete files.
    bool deleteDropped = false;
    int maxDelete = 100;
    // Write the kit's SHA256 list into this folder instead of running.
    std::optional<QString> writeChecksums;
};

// More sessions than this only crowd the instrument's server.
inline constexpr int MaxFtpSessions = 16;

struct ParsedArguments
{
    CliOptions options;
    QString error; // empty when the arguments are usable
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after "=" (--ip=10.0.0.1).
[[nodiscard]] ParsedArguments parseArguments(const QStringList &arguments);

[[nodiscard]] QString usageText();

} // namespace cli

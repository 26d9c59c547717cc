#include "cli/CliOptions.h"

#include "fleet/AddressList.h"
#include "fleet/FleetRun.h"
#include "platform/Sockets.h"
#include "upgrade/ModuleCatalogue.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace cli {

QString usageText()
{
    return QStringLiteral(
        "Usage: vxupgrade-cli --ip ADDRESS [--signals NAME[,NAME...]] [--yes | --no] [--dir DIR]\n"
        "                     [--json] [--require-signature] [--trusted-key FILE]\n"
        "                     [--changed-only [--trust-size]] [--history-file FILE]\n"
        "                     [--await-reboot [--reboot-timeout S]]\n"
        "                     [--backup [--keep-snapshots N]] [--delete-dropped [--max-delete N]]\n"
        "       vxupgrade-cli --dry-run --ip ADDRESS [options]\n"
        "       vxupgrade-cli --restore [RUN] --ip ADDRESS [--await-reboot [--reboot-timeout S] | --dry-run]\n"
        "                     [--yes | --no] [--dir DIR] [--json] [--history-file FILE]\n"
        "       vxupgrade-cli --verify --ip ADDRESS... [--strict] [--signals ...] [--dir DIR] [--json]\n"
        "                     [--require-signature] [--trusted-key FILE] [--history-file FILE]\n"
        "       vxupgrade-cli --history [--ip ADDRESS] [--last N] [--json] [--history-file FILE]\n"
        "       vxupgrade-cli --report FILE.html [--history-file FILE...] [--since DATE] [--json]\n"
        "       vxupgrade-cli --write-checksums DIR\n"
        "       vxupgrade-cli (--ip ADDRESS... | --ip-file FILE) [--jobs N] [--json] [options]\n"
        "\n"
        "Upgrades a VX900 as the window's Copy button does, without a display;\n"
        "given several addresses or --ip-file, upgrades them side by side (a fleet\n"
        "run, one process per instrument) and ends with a table of each outcome.\n"
        "\n"
        "  --ip ADDRESS       the instrument's IPv4 address, as typed in the window\n"
        "                     (four decimal groups of 0 to 255, where a leading 0\n"
        "                     means nothing); may be repeated\n"
        "  --ip-file FILE     the addresses of a fleet run, one a line; blank lines\n"
        "                     and \"#\" comments are skipped; may be repeated\n"
        "  --jobs N           fleet runs at most N at once (default: one per\n"
        "                     instrument, at most 8)\n"
        "  --signals NAMES    tick these modules' boxes, so that their SIGNAL folders\n"
        "                     are copied too: KRN3, LPS3, QMX53, SBX3, PRZ53; may be\n"
        "                     repeated\n"
        "  --yes, --no        the answer to the low-space and the space question;\n"
        "                     without either they are asked on the terminal, and\n"
        "                     answered No without one\n"
        "                     (a fleet run never asks: No for every instrument)\n"
        "  --dir DIR          read vxUpgrade.ini, target and MainFrame from DIR\n"
        "                     instead of the program's own folder\n"
        "  --dry-run          connect, check the instrument and the whole kit, ask what\n"
        "                     the run would ask, and print what it would write; write\n"
        "                     nothing; the exit status is the run's\n"
        "  --verify           audit: connect, check the kit, and compare it file by file\n"
        "                     with what the instrument holds where the kit would write;\n"
        "                     write nothing; exit 0 all match, 4 something differs or\n"
        "                     is missing, 1 the instrument could not be read\n"
        "  --strict           with --verify: a file of the right size that no run on\n"
        "                     record sent and verified there counts as differing\n"
        "  --json             memo lines to standard error, and this run's record as\n"
        "                     one line of JSON on standard output at the end (a\n"
        "                     fleet: each instrument's record as its run ends)\n"
        "  --require-signature  refuse a kit without a SHA256.sig that a trusted key\n"
        "                     verifies and that matches the kit; the trusted keys are\n"
        "                     the signify public keys in $XDG_CONFIG_HOME/vxupgrade/\n"
        "                     trusted-keys/ and /etc/vxupgrade/trusted-keys/\n"
        "  --trusted-key FILE also trust this signify public key, and require the\n"
        "                     signature; may be repeated\n"
        "  --write-checksums DIR  write the kit's SHA256 list (every file under target\n"
        "                     and MainFrame, and vxUpgrade.ini) as DIR/SHA256, for\n"
        "                     signify-openbsd -S -e to sign into SHA256.sig\n"
        "  --history          print the runs on record (of ADDRESS with --ip) as a\n"
        "                     table, or as JSON lines with --json\n"
        "  --last N           with --history: only the last N runs\n"
        "  --report FILE      write one HTML page of every instrument on record (its\n"
        "                     kit, last upgrade, audit and restart, and its runs) to\n"
        "                     FILE, \"-\" for standard output; with --json, the same\n"
        "                     as JSON; several --history-file merge those histories\n"
        "  --since DATE       with --report: leave out the runs before DATE\n"
        "                     (YYYY-MM-DD, UTC, or an ISO 8601 time)\n"
        "  --history-file FILE  keep the history (and its index and digest cache,\n"
        "                     beside it) in FILE, e.g. on a folder the lab shares;\n"
        "                     also \"history-file = FILE\" in vxupgrade.conf\n"
        "  --changed-only     send only the files the instrument does not hold at the\n"
        "                     kit's size with this very content verified there by an\n"
        "                     earlier run on record; the rest of the run is as usual\n"
        "  --trust-size       with --changed-only: a file at the kit's size is left\n"
        "                     alone even when no run on record sent it\n"
        "  --await-reboot     after a successful upgrade, wait for the instrument to\n"
        "                     restart, then check it is the same instrument, its free\n"
        "                     space can be read and every module's NAME file is there\n"
        "                     (not with --dry-run)\n"
        "  --reboot-timeout S with --await-reboot: wait at most S seconds (default 300)\n"
        "                     for the instrument to go away and come back\n"
        "  --backup           before the first write, fetch every instrument file the\n"
        "                     run replaces with other content into a snapshot beside\n"
        "                     the history (also \"backup = yes\" in vxupgrade.conf); a\n"
        "                     snapshot that fails ends the run, nothing written\n"
        "  --keep-snapshots N keep the last N snapshots per instrument (default 3), all\n"
        "                     of them within 2 GiB; the oldest go first\n"
        "  --restore [RUN]    put a snapshot back instead of upgrading: that of the run\n"
        "                     started at RUN (\"2026-12-11 13:15:00\", or its folder),\n"
        "                     by default the last one of this instrument; only onto\n"
        "                     the instrument it was taken from\n"
        "  --delete-dropped   after a copy that succeeded, remove the files that runs\n"
        "                     on record put on this instrument and the kit no longer\n"
        "                     holds (never another file, never a NAME file)\n"
        "  --max-delete N     with --delete-dropped: more than N such files (default\n"
        "                     100) end the run before its first write, nothing removed\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "Memo lines go to standard output, message boxes to standard error.\n"
        "An option a mode does not use is a usage error, and so is an option given\n"
        "twice, except --ip, --ip-file, --signals and --trusted-key, which add up.\n"
        "Exit status: 0 upgraded (a dry run: would go ahead; an audit: all match),\n"
        "1 failed, 2 usage error, 3 declined at the low-space or the space question,\n"
        "4 an audit (--verify) found files that differ or are missing, 5 upgraded,\n"
        "but the restart was not confirmed (--await-reboot). A fleet: 0 all\n"
        "upgraded, 1 any failed or stopped, 5 none failed but some restart not\n"
        "confirmed, 4 none of that but an audit found differences, 3 none failed\n"
        "but some declined.\n"
        "Every run is put on record in $XDG_STATE_HOME/vxupgrade/history.jsonl\n"
        "(or --history-file, or \"history-file\" in vxupgrade.conf)\n"
        "(~/.local/state/vxupgrade/history.jsonl by default).\n");
}

namespace {

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

QString readAddress(Reading &reading, const QString &value)
{
    const std::optional<QString> address = platform::sock::CanonicalAddress(value);
    if (!address)
        return QStringLiteral("--ip: \"%1\" is not an address of four decimal groups of 0 to 255").arg(value);
    if (!reading.addressGiven)
        reading.options.address = *address;
    reading.addressGiven = true;
    reading.fleetSources << std::pair{false, value};
    return {};
}

QString readAddressFile(Reading &reading, const QString &value)
{
    reading.addressFileGiven = true;
    reading.fleetSources << std::pair{true, value};
    return {};
}

QString readJobs(Reading &reading, const QString &value)
{
    const std::optional<int> jobs = fleet::FleetRun::parseJobs(value);
    if (!jobs)
        return QStringLiteral("--jobs: \"%1\" is not a whole number from 1 to 256").arg(value);
    reading.options.jobs = *jobs;
    return {};
}

QString readSignals(Reading &reading, const QString &value)
{
    const QStringList &boxes = ModuleCatalogue::BoxNames();
    for (const QString &module : value.split(u',')) {
        if (module.isEmpty())
            return QStringLiteral("--signals: empty module name in \"%1\"").arg(value);
        // Names compare exactly, as the window's catalogue does.
        if (!boxes.contains(module))
            return QStringLiteral("--signals: %1 has no check box (the boxes are %2)")
                .arg(module, boxes.join(QLatin1String(", ")));
        if (!reading.options.signalModules.contains(module))
            reading.options.signalModules << module;
    }
    return {};
}

QString readTrustedKey(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--trusted-key needs a file");
    reading.options.trustedKeys << value;
    return {};
}

QString readWriteChecksums(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--write-checksums needs a folder");
    reading.options.writeChecksums = value;
    return {};
}

QString readHistoryFile(Reading &reading, const QString &value)
{
    if (value.isEmpty() || QFileInfo(value).isDir())
        return QStringLiteral("--history-file needs a file name");
    reading.options.historyFile = QFileInfo(value).absoluteFilePath();
    reading.options.historyFiles << *reading.options.historyFile;
    return {};
}

QString readReport(Reading &reading, const QString &value)
{
    if (value.isEmpty() || (value != QLatin1String("-") && QFileInfo(value).isDir()))
        return QStringLiteral("--report needs a file name, or - for standard output");
    reading.options.report = value;
    return {};
}

// A day (UTC from its start) or an ISO 8601 time.
QString readSince(Reading &reading, const QString &value)
{
    // A time has its "T"; the date reader alone would take a time's date
    // and drop the rest.
    QDateTime since = value.contains(u'T') ? QDateTime::fromString(value, Qt::ISODate)
                                           : QDateTime(QDate::fromString(value, Qt::ISODate), QTime(0, 0), Qt::UTC);
    // The history's times are UTC, and so is a time given without an offset.
    if (since.isValid() && since.timeSpec() == Qt::LocalTime)
        since.setTimeSpec(Qt::UTC);
    if (!since.isValid())
        return QStringLiteral("--since: \"%1\" is not a date (YYYY-MM-DD) or an ISO 8601 time").arg(value);
    reading.options.since = since.toUTC();
    return {};
}

QString readLast(Reading &reading, const QString &value)
{
    bool number = false;
    reading.options.last = value.toInt(&number);
    if (!number || reading.options.last < 1)
        return QStringLiteral("--last: \"%1\" is not a count of runs").arg(value);
    return {};
}

QString readRebootTimeout(Reading &reading, const QString &value)
{
    bool number = false;
    const int seconds = value.toInt(&number);
    if (!number || seconds < 1 || seconds > 86400)
        return QStringLiteral("--reboot-timeout: \"%1\" is not a whole number of seconds from 1 to 86400").arg(value);
    reading.options.rebootTimeoutSeconds = seconds;
    return {};
}

// A count from 1 to `most`, for the option `name`.
QString readCount(const QString &name, const QString &value, int most, int &into)
{
    bool number = false;
    const int count = value.toInt(&number);
    if (!number || count < 1 || count > most)
        return QStringLiteral("%1: \"%2\" is not a whole number from 1 to %3").arg(name, value).arg(most);
    into = count;
    return {};
}

QString readMaxDelete(Reading &reading, const QString &value)
{
    return readCount(QStringLiteral("--max-delete"), value, 1000000, reading.options.maxDelete);
}

QString readKeepSnapshots(Reading &reading, const QString &value)
{
    return readCount(QStringLiteral("--keep-snapshots"), value, 1000, reading.options.keepSnapshots);
}

QString readRestore(Reading &reading, const QString &value)
{
    reading.options.restore = value;
    return {};
}

QString readDir(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--dir needs a folder");
    reading.options.programDir = value;
    return {};
}

// Every option the program takes, and the modes that use it.
const OptionRow Options[] = {
    {"--help", false, setFlag<&CliOptions::help>, AnyMode},
    {"--version", false, setFlag<&CliOptions::version>, AnyMode},
    {"--ip", true, readAddress, Addressed | History, Mode(0), true},
    {"--ip-file", true, readAddressFile, Addressed, Mode(0), true},
    {"--jobs", true, readJobs, Addressed},
    {"--fleet-child", false, setFlag<&CliOptions::fleetChild>, Addressed},
    {"--json", false, setFlag<&CliOptions::json>, Addressed | History | Report},
    {"--signals", true, readSignals, OnInstrument, Mode(0), true},
    // An audit writes nothing, so it asks no question to answer.
    {"--yes", false, setAnswer<LowSpaceAnswer::Yes>, Runs | Restore},
    {"--no", false, setAnswer<LowSpaceAnswer::No>, Runs | Restore},
    {"--verify", false, setFlag<&CliOptions::verify>, Audit, Audit},
    {"--strict", false, setFlag<&CliOptions::strict>, Audit},
    {"--dry-run", false, setFlag<&CliOptions::dryRun>, DryRun | Restore, DryRun},
    {"--history", false, setFlag<&CliOptions::history>, History, History},
    {"--require-signature", false, setFlag<&CliOptions::requireSignature>, OnInstrument},
    {"--trusted-key", true, readTrustedKey, OnInstrument, Mode(0), true},
    {"--write-checksums", true, readWriteChecksums, Checksums, Checksums},
    // Several histories merge into one report; every other mode reads one.
    {"--history-file", true, readHistoryFile, Addressed | History | Report, Mode(0), true},
    {"--report", true, readReport, Report, Report},
    {"--since", true, readSince, Report},
    {"--changed-only", false, setFlag<&CliOptions::changedOnly>, Runs},
    {"--trust-size", false, setFlag<&CliOptions::trustSize>, Runs, Mode(0), false, "--changed-only"},
    {"--last", true, readLast, History},
    {"--await-reboot", false, setFlag<&CliOptions::awaitReboot>, Run | Restore},
    {"--reboot-timeout", true, readRebootTimeout, Run | Restore, Mode(0), false, "--await-reboot"},
    {"--dir", true, readDir, Addressed},
    // A dry run writes nothing, so there is nothing to keep; the count
    // applies to a snapshot that "backup = yes" asks for as well.
    {"--backup", false, setFlag<&CliOptions::backup>, Run},
    {"--keep-snapshots", true, readKeepSnapshots, Run},
    {"--restore", true, readRestore, Restore, Restore, false, nullptr, true},
    {"--delete-dropped", false, setFlag<&CliOptions::deleteDropped>, Runs},
    {"--max-delete", true, readMaxDelete, Runs, Mode(0), false, "--delete-dropped"},
};

const OptionRow *findOption(const QString &name)
{
    for (const OptionRow &option : Options) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

// Reads the argument at index, and the next one when it is the option's
// value (whatever it starts with); returns the usage error, or an empty text.
[[nodiscard]] QString readArgument(Reading &reading, const QStringList &arguments, qsizetype &index)
{
    QString name = arguments[index];
    std::optional<QString> value;
    if (name.startsWith(QLatin1String("--"))) {
        const qsizetype equals = name.indexOf(u'=');
        if (equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
    }
    const OptionRow *option = findOption(name);
    const bool takesValue = option && option->takesValue;
    if (takesValue && !value && option->optionalValue) {
        if (index + 1 < arguments.size() && !arguments[index + 1].startsWith(u'-'))
            value = arguments[++index];
        else
            value = QString();
    }
    if (takesValue && !value) {
        if (index + 1 >= arguments.size())
            return QStringLiteral("%1 needs a value").arg(name);
        value = arguments[++index];
    } else if (!takesValue && value) {
        return QStringLiteral("%1 takes no value").arg(name);
    }
    if (!option)
        return QStringLiteral("unknown argument \"%1\"").arg(arguments[index]);
    if (reading.given.contains(option)) {
        if (!option->repeatable)
            return QStringLiteral("%1 given twice").arg(name);
    } else {
        reading.given << option;
    }
    return option->apply(reading, value.value_or(QString()));
}

bool wasGiven(const Reading &reading, const char *name)
{
    return std::any_of(reading.given.cbegin(), reading.given.cend(),
                       [name](const OptionRow *option) { return qstrcmp(option->name, name) == 0; });
}

// The options that ask for the modes in `modes`, for a message.
QString modeOptions(unsigned modes)
{
    QStringList names;
    for (const OptionRow &option : Options) {
        if (option.selects & modes)
            names << QLatin1String(option.name);
    }
    if (names.size() < 2)
        return names.join(QString());
    const QString last = names.takeLast();
    return names.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

// Every option given must be one the mode uses (the first option that asks
// for a mode sets it), and one that refines another needs that other; the
// first one broken, in the order given, is the one reported.
[[nodiscard]] QString checkCombinations(const Reading &reading)
{
    // --restore decides the mode wherever it stands: its dry run lists.
    auto selector = std::find_if(reading.given.cbegin(), reading.given.cend(),
                                 [](const OptionRow *option) { return option->selects == Restore; });
    if (selector == reading.given.cend())
        selector = std::find_if(reading.given.cbegin(), reading.given.cend(),
                                [](const OptionRow *option) { return option->selects != 0; });
    const unsigned mode = selector == reading.given.cend() ? unsigned(Run) : unsigned((*selector)->selects);
    for (const OptionRow *option : reading.given) {
        if (!(option->modes & mode)) {
            if (mode == Run)
                return QStringLiteral("%1 goes with %2").arg(QLatin1String(option->name), modeOptions(option->modes));
            return QStringLiteral("%1 and %2 don't go together")
                .arg(QLatin1String((*selector)->name), QLatin1String(option->name));
        }
        if (option->needs && !wasGiven(reading, option->needs))
            return QStringLiteral("%1 goes with %2").arg(QLatin1String(option->name), QLatin1String(option->needs));
    }
    return {};
}

// Several addresses or an address file make a fleet, whose list is read
// (and its files opened) only once the options themselves are sound.
[[nodiscard]] QString readFleet(Reading &reading)
{
    CliOptions &options = reading.options;
    options.fleet = reading.addressFileGiven || reading.fleetSources.size() > 1;
    if (!options.fleet)
        return {};
    fleet::AddressList addresses;
    for (const auto &[isFile, value] : reading.fleetSources) {
        const QString error = isFile ? addresses.addFile(value) : addresses.addArgument(value);
        if (!error.isEmpty())
            return error;
    }
    options.addresses = addresses.addresses();
    return {};
}

// Whether there is one thing to do, with the addresses it needs.
[[nodiscard]] QString checkWhatToRun(const Reading &reading)
{
    const CliOptions &options = reading.options;
    const bool addressed = reading.addressGiven || reading.addressFileGiven;
    if (options.historyFiles.size() > 1 && !options.report)
        return QStringLiteral("--history-file given twice");
    if (!options.help && !options.version && !options.history && !options.writeChecksums && !options.report
        && !addressed)
        return QStringLiteral("--ip ADDRESS is required");
    if (options.fleetChild && options.fleet)
        return QStringLiteral("--fleet-child takes one --ip");
    if (options.history && options.fleet)
        return QStringLiteral("--history takes at most one --ip");
    // A fleet's children are not told to stay dry: they would upgrade.
    if (options.dryRun && options.fleet)
        return QStringLiteral("--dry-run takes one --ip");
    // In a restore's mode both are taken; a dry one has no restart to await.
    if (options.restore && options.dryRun && options.awaitReboot)
        return QStringLiteral("--dry-run and --await-reboot don't go together");
    return {};
}

} // namespace

ParsedArguments parseArguments(const QStringList &arguments)
{
    Reading reading;
    QString error;
    for (qsizetype index = 0; index < arguments.size() && error.isEmpty(); ++index)
        error = readArgument(reading, arguments, index);
    if (error.isEmpty())
        error = checkCombinations(reading);
    if (error.isEmpty())
        error = readFleet(reading);
    if (error.isEmpty())
        error = checkWhatToRun(reading);
    return ParsedArguments{std::move(reading.options), error};
}

} // namespace cli

#include "cli/CliOptions.h"

#include "fleet/AddressList.h"
#include "fleet/FleetRun.h"
#include "platform/Sockets.h"
#include "upgrade/common/ModuleCatalogue.h"

#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace cli {

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
};
constexpr unsigned Runs = Run | DryRun;
constexpr unsigned OnInstrument = Run | DryRun | Audit;
constexpr unsigned AnyMode = Run | DryRun | Audit | History | Checksums | Report;

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
    const QStringList &boxes = upgrade::ModuleCatalogue::BoxNames();
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
    {"--ip", true, readAddress, OnInstrument | History, Mode(0), true},
    {"--ip-file", true, readAddressFile, OnInstrument, Mode(0), true},
    {"--jobs", true, readJobs, OnInstrument},
    {"--fleet-child", false, setFlag<&CliOptions::fleetChild>, OnInstrument},
    {"--json", false, setFlag<&CliOptions::json>, OnInstrument | History | Report},
    {"--signals", true, readSignals, OnInstrument, Mode(0), true},
    // An audit writes nothing, so it asks no question to answer.
    {"--yes", false, setAnswer<LowSpaceAnswer::Yes>, Runs},
    {"--no", false, setAnswer<LowSpaceAnswer::No>, Runs},
    {"--verify", false, setFlag<&CliOptions::verify>, Audit, Audit},
    {"--strict", false, setFlag<&CliOptions::strict>, Audit},
    {"--dry-run", false, setFlag<&CliOptions::dryRun>, DryRun, DryRun},
    {"--history", false, setFlag<&CliOptions::history>, History, History},
    {"--require-signature", false, setFlag<&CliOptions::requireSignature>, OnInstrument},
    {"--trusted-key", true, readTrustedKey, OnInstrument, Mode(0), true},
    {"--write-checksums", true, readWriteChecksums, Checksums, Checksums},
    // Several histories merge into one report; every other mode reads one.
    {"--history-file", true, readHistoryFile, OnInstrument | History | Report, Mode(0), true},
    {"--report", true, readReport, Report, Report},
    {"--since", true, readSince, Report},
    {"--changed-only", false, setFlag<&CliOptions::changedOnly>, Runs},
    {"--trust-size", false, setFlag<&CliOptions::trustSize>, Runs, Mode(0), false, "--changed-only"},
    {"--last", true, readLast, History},
    {"--await-reboot", false, setFlag<&CliOptions::awaitReboot>, Run},
    {"--reboot-timeout", true, readRebootTimeout, Run, Mode(0), false, "--await-reboot"},
    {"--dir", true, readDir, OnInstrument},
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
    const auto selector = std::find_if(reading.given.cbegin(), reading.given.cend(),
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

// parseArguments: the table of every option, and the rules between them.
#include "cli/OptionReading.h"

#include "fleet/AddressList.h"

#include <algorithm>
#include <optional>

namespace cli {

using namespace optionreading;

namespace {

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
    {"--sessions", true, readSessions, Run},
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

#include "cli/CliOptions.h"

#include "fleet/AddressList.h"
#include "fleet/FleetRun.h"
#include "upgrade/AddressField.h"
#include "upgrade/ModuleCatalogue.h"

#include <QFileInfo>

namespace cli {

QString usageText()
{
    return QStringLiteral(
        "Usage: vxupgrade-cli --ip ADDRESS [--signals NAME[,NAME...]] [--yes | --no] [--dir DIR]\n"
        "                     [--dry-run] [--json] [--require-signature] [--trusted-key FILE]\n"
        "       vxupgrade-cli --verify --ip ADDRESS... [--strict] [--signals ...] [--dir DIR] [--json]\n"
        "                     [--await-reboot [--reboot-timeout S]]\n"
        "                     [--changed-only [--trust-size]] [--history-file FILE]\n"
        "       vxupgrade-cli --history [--ip ADDRESS] [--last N] [--json] [--history-file FILE]\n"
        "       vxupgrade-cli --write-checksums DIR\n"
        "       vxupgrade-cli (--ip ADDRESS... | --ip-file FILE) [--jobs N] [--json] [options]\n"
        "\n"
        "Upgrades a VX900 as the window's Copy button does, without a display;\n"
        "given several addresses or --ip-file, upgrades them side by side (a fleet\n"
        "run, one process per instrument) and ends with a table of each outcome.\n"
        "\n"
        "  --ip ADDRESS       the instrument's IPv4 address, as typed in the window\n"
        "                     (four groups of up to three digits); may be repeated\n"
        "  --ip-file FILE     the addresses of a fleet run, one a line; blank lines\n"
        "                     and \"#\" comments are skipped\n"
        "  --jobs N           fleet runs at most N at once (default: one per\n"
        "                     instrument, at most 8)\n"
        "  --signals NAMES    tick these modules' boxes, so that their SIGNAL folders\n"
        "                     are copied too: KRN3, LPS3, QMX53, SBX3, PRZ53\n"
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
        "  --reboot-timeout S with --await-reboot: wait at most S seconds (default 300)\n"
        "                     for the instrument to go away and come back\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "Memo lines go to standard output, message boxes to standard error.\n"
        "Exit status: 0 upgraded (a dry run: would go ahead), 1 failed, 2 usage\n"
        "error, 3 declined at the low-space or the space question; a fleet: 0 all\n"
        "upgraded, 1 any failed or stopped, 3 none failed but some declined.\n"
        "With --await-reboot: 5 upgraded, but the restart was not confirmed (a\n"
        "fleet: none failed, some not confirmed).\n"
        "Every run is put on record in $XDG_STATE_HOME/vxupgrade/history.jsonl\n"
        "(or --history-file, or \"history-file\" in vxupgrade.conf)\n"
        "(~/.local/state/vxupgrade/history.jsonl by default).\n");
}

ParsedArguments parseArguments(const QStringList &arguments)
{
    ParsedArguments parsed;
    CliOptions &options = parsed.options;
    bool addressGiven = false;
    bool addressFileGiven = false;
    // Read into the fleet's list only for a fleet, whose addresses must be
    // real ones: a single run takes what the window's field takes.
    QList<std::pair<bool, QString>> fleetSources; // (a file?, value)
    bool answerGiven = false;
    bool rebootTimeoutGiven = false;

    auto fail = [&parsed](const QString &message) {
        parsed.error = message;
        return parsed;
    };

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        if (name.startsWith(QLatin1String("--"))) {
            const qsizetype equals = name.indexOf(u'=');
            if (equals > 0) {
                value = name.mid(equals + 1);
                name.truncate(equals);
            }
        }

        const bool takesValue = name == QLatin1String("--ip") || name == QLatin1String("--signals")
                                || name == QLatin1String("--dir") || name == QLatin1String("--last")
                                || name == QLatin1String("--ip-file") || name == QLatin1String("--jobs")
                                || name == QLatin1String("--trusted-key")
                                || name == QLatin1String("--write-checksums")
                                || name == QLatin1String("--reboot-timeout")
                                || name == QLatin1String("--history-file");
        if (takesValue && !value) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        } else if (!takesValue && value) {
            return fail(QStringLiteral("%1 takes no value").arg(name));
        }

        if (name == QLatin1String("--help")) {
            options.help = true;
        } else if (name == QLatin1String("--version")) {
            options.version = true;
        } else if (name == QLatin1String("--ip")) {
            // An address the window's field could not hold is not one its run
            // could be given.
            if (!upgrade::FitsAddressField(*value))
                return fail(QStringLiteral("--ip: \"%1\" is not an address of four groups of up to three digits")
                                .arg(*value));
            if (!addressGiven)
                options.address = *value;
            addressGiven = true;
            fleetSources << std::pair{false, *value};
        } else if (name == QLatin1String("--ip-file")) {
            addressFileGiven = true;
            fleetSources << std::pair{true, *value};
        } else if (name == QLatin1String("--jobs")) {
            const std::optional<int> jobs = fleet::FleetRun::parseJobs(*value);
            if (!jobs)
                return fail(QStringLiteral("--jobs: \"%1\" is not a whole number from 1 to 256").arg(*value));
            options.jobs = *jobs;
        } else if (name == QLatin1String("--fleet-child")) {
            options.fleetChild = true;
        } else if (name == QLatin1String("--json")) {
            options.json = true;
        } else if (name == QLatin1String("--signals")) {
            const QStringList names = value->split(u',');
            for (const QString &module : names) {
                if (module.isEmpty())
                    return fail(QStringLiteral("--signals: empty module name in \"%1\"").arg(*value));
                // Names compare exactly, as the window's catalogue does.
                if (!ModuleCatalogue::BoxNames().contains(module))
                    return fail(QStringLiteral("--signals: %1 has no check box (the boxes are %2)")
                                    .arg(module, ModuleCatalogue::BoxNames().join(QLatin1String(", "))));
                if (!options.signalModules.contains(module))
                    options.signalModules << module;
            }
        } else if (name == QLatin1String("--yes") || name == QLatin1String("--no")) {
            if (answerGiven)
                return fail(QStringLiteral("give one of --yes and --no, once"));
            options.lowSpace = name == QLatin1String("--yes") ? LowSpaceAnswer::Yes : LowSpaceAnswer::No;
            answerGiven = true;
        } else if (name == QLatin1String("--verify") || name == QLatin1String("--strict")) {
            (name == QLatin1String("--verify") ? options.verify : options.strict) = true;
        } else if (name == QLatin1String("--dry-run") || name == QLatin1String("--json")
                   || name == QLatin1String("--history")) {
            (name == QLatin1String("--json") ? options.json : name == QLatin1String("--history") ? options.history
                                                                                                 : options.dryRun) = true;
        } else if (name == QLatin1String("--require-signature")) {
            options.requireSignature = true;
        } else if (name == QLatin1String("--trusted-key")) {
            if (value->isEmpty())
                return fail(QStringLiteral("--trusted-key needs a file"));
            options.trustedKeys << *value;
        } else if (name == QLatin1String("--write-checksums")) {
            if (value->isEmpty())
                return fail(QStringLiteral("--write-checksums needs a folder"));
            options.writeChecksums = *value;
        } else if (name == QLatin1String("--history-file")) {
            if (value->isEmpty() || QFileInfo(*value).isDir())
                return fail(QStringLiteral("--history-file needs a file name"));
            options.historyFile = QFileInfo(*value).absoluteFilePath();
        } else if (name == QLatin1String("--changed-only") || name == QLatin1String("--trust-size")) {
            (name == QLatin1String("--changed-only") ? options.changedOnly : options.trustSize) = true;
        } else if (name == QLatin1String("--last")) {
            bool number = false;
            options.last = value->toInt(&number);
            if (!number || options.last < 1)
                return fail(QStringLiteral("--last: \"%1\" is not a count of runs").arg(*value));
        } else if (name == QLatin1String("--await-reboot")) {
            options.awaitReboot = true;
        } else if (name == QLatin1String("--reboot-timeout")) {
            bool number = false;
            options.rebootTimeoutSeconds = value->toInt(&number);
            if (!number || options.rebootTimeoutSeconds < 1 || options.rebootTimeoutSeconds > 86400)
                return fail(QStringLiteral("--reboot-timeout: \"%1\" is not a whole number of seconds from 1 to 86400")
                                .arg(*value));
            rebootTimeoutGiven = true;
        } else if (name == QLatin1String("--dir")) {
            if (options.programDir)
                return fail(QStringLiteral("--dir given twice"));
            if (value->isEmpty())
                return fail(QStringLiteral("--dir needs a folder"));
            options.programDir = *value;
        } else {
            return fail(QStringLiteral("unknown argument \"%1\"").arg(arguments[i]));
        }
    }

    if (options.last > 0 && !options.history)
        return fail(QStringLiteral("--last goes with --history"));
    if (options.history && options.dryRun)
        return fail(QStringLiteral("--history and --dry-run don't go together"));
    if (options.strict && !options.verify)
        return fail(QStringLiteral("--strict goes with --verify"));
    if (options.verify && (options.dryRun || options.history || options.changedOnly || options.awaitReboot
                           || options.writeChecksums))
        return fail(QStringLiteral("--verify writes nothing and waits for nothing: it goes with neither --dry-run, "
                                   "--history, --changed-only, --await-reboot nor --write-checksums"));
    if (options.trustSize && !options.changedOnly)
        return fail(QStringLiteral("--trust-size goes with --changed-only"));
    if (options.changedOnly && (options.history || options.writeChecksums))
        return fail(QStringLiteral("--changed-only goes with a run"));
    if (rebootTimeoutGiven && !options.awaitReboot)
        return fail(QStringLiteral("--reboot-timeout goes with --await-reboot"));
    if (options.awaitReboot && (options.dryRun || options.history))
        return fail(QStringLiteral("--await-reboot waits after an upgrade: not with %1")
                        .arg(options.dryRun ? QStringLiteral("--dry-run") : QStringLiteral("--history")));
    options.fleet = addressFileGiven || fleetSources.size() > 1;
    if (options.fleet) {
        fleet::AddressList addresses;
        for (const auto &[isFile, value] : fleetSources) {
            const QString error = isFile ? addresses.addFile(value) : addresses.addArgument(value);
            if (!error.isEmpty())
                return fail(error);
        }
        options.addresses = addresses.addresses();
    }
    if (options.writeChecksums && (addressGiven || addressFileGiven || options.history))
        return fail(QStringLiteral("--write-checksums runs on its own, without --ip or --history"));
    if (!options.help && !options.version && !options.history && !options.writeChecksums && !addressGiven
        && !addressFileGiven)
        return fail(QStringLiteral("--ip ADDRESS is required"));
    if (options.fleetChild && options.fleet)
        return fail(QStringLiteral("--fleet-child takes one --ip"));
    if (options.history && options.fleet)
        return fail(QStringLiteral("--history takes at most one --ip"));
    return parsed;
}

} // namespace cli

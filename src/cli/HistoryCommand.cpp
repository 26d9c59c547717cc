#include "cli/HistoryCommand.h"

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "upgrade/run/RunAssembly.h"
#include "upgrade/record/HistoryTable.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/run/RunSettings.h"

#include <QFileInfo>

namespace cli {

QString historyFileOf(const CliOptions &options)
{
    return upgrade::ChosenHistoryFile(options.historyFile, upgrade::RunSettings::FromEnvironment());
}

namespace {

// The file or one of the older files rotated beside it.
bool historyExists(const QString &path)
{
    for (int age = 0; age <= upgrade::HistoryLimits{}.keptFiles; ++age) {
        if (QFileInfo::exists(upgrade::RotatedHistoryFile(path, age)))
            return true;
    }
    return false;
}

} // namespace

int printHistory(const CliOptions &options, Console &console)
{
    const upgrade::RunHistory history(historyFileOf(options));
    // A history named on the command line that isn't there is a mistyped
    // path, not a history without runs: an empty table would hide that.
    if (options.historyFile && !historyExists(history.fileName())) {
        console.printError(QStringLiteral("vxupgrade-cli: %1: no such history file").arg(history.fileName()));
        return ExitFailed;
    }
    const upgrade::RunHistory::Reading reading = history.read(options.address, options.last);
    if (reading.error) {
        console.printError(QStringLiteral("vxupgrade-cli: %1: %2").arg(history.fileName(), *reading.error));
        return ExitFailed;
    }
    if (options.json) {
        for (const upgrade::RunRecord &record : reading.records)
            console.printLine(QString::fromUtf8(record.toJsonLine()));
    } else {
        for (const QString &line : upgrade::FormatHistoryTable(reading.records))
            console.printLine(line);
    }
    // A line someone else wrote there is not worth failing over, but it is
    // not hidden either.
    if (reading.unreadableLines > 0)
        console.printError(QStringLiteral("vxupgrade-cli: %1 line(s) of %2 are no run record")
                               .arg(reading.unreadableLines)
                               .arg(history.fileName()));
    return ExitUpgraded;
}

} // namespace cli

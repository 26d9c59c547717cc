#include "cli/ReportCommand.h"

#include "cli/Console.h"
#include "cli/HistoryCommand.h"
#include "report/FleetModel.h"
#include "report/FleetPage.h"
#include "upgrade/record/HistoryFile.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/common/RunVocabulary.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cstdio>

namespace cli {
namespace {

// A history named on the command line that isn't there is more likely a
// mistyped path than a PC that never ran: an empty page would hide it.
bool historyExists(const QString &file)
{
    return QFileInfo::exists(file) || QFileInfo::exists(upgrade::RotatedHistoryFile(file, 1));
}

} // namespace

int writeReport(const CliOptions &options, Console &console)
{
    const QStringList files = options.historyFiles.isEmpty() ? QStringList{historyFileOf(options)} : options.historyFiles;
    report::FleetModel model(QDateTime::currentDateTimeUtc(), options.since);
    for (const QString &file : files) {
        if (!options.historyFiles.isEmpty() && !historyExists(file)) {
            console.printError(QStringLiteral("vxupgrade-cli: no history at %1").arg(file));
            return upgrade::ExitFailed;
        }
        const upgrade::RunHistory::Visit visit =
            upgrade::RunHistory(file).visitFilesOnDemand([&model](upgrade::VisitedRecord &&record) {
                model.add(record);
                return true;
            });
        if (visit.error) {
            console.printError(QStringLiteral("vxupgrade-cli: %1").arg(*visit.error));
            return upgrade::ExitFailed;
        }
        model.addSource(report::SourceFile{file, visit.records, visit.unreadableLines});
        if (visit.unreadableLines > 0)
            console.printError(QStringLiteral("vxupgrade-cli: %1 line(s) of %2 are no run record")
                                   .arg(visit.unreadableLines)
                                   .arg(file));
    }
    const report::FleetView view = model.view();
    const QByteArray page = options.json ? QJsonDocument(view.toJson()).toJson(QJsonDocument::Indented)
                                         : report::FleetPage(view);
    if (*options.report == QLatin1String("-")) {
        if (std::fwrite(page.constData(), 1, size_t(page.size()), stdout) != size_t(page.size())
            || std::fflush(stdout) != 0) {
            console.printError(QStringLiteral("vxupgrade-cli: can't write the report to standard output"));
            return upgrade::ExitFailed;
        }
        return upgrade::ExitUpgraded;
    }
    // Whole or not at all: a page cut short would look like a smaller fleet.
    QSaveFile out(*options.report);
    if (!out.open(QIODevice::WriteOnly) || out.write(page) != page.size() || !out.commit()) {
        console.printError(QStringLiteral("vxupgrade-cli: can't write the report %1: %2").arg(*options.report, out.errorString()));
        return upgrade::ExitFailed;
    }
    return upgrade::ExitUpgraded;
}

} // namespace cli

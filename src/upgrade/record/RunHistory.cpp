#include "upgrade/record/RunHistory.h"

#include "upgrade/record/HistoryReader.h"
#include "upgrade/record/HistoryWriter.h"
#include "upgrade/record/SendIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

#include <sys/stat.h>
#include <unistd.h>


namespace upgrade {

QString RunHistory::StateFolder(const QProcessEnvironment &environment)
{
    // XDG's base directory rules ignore a relative XDG_STATE_HOME.
    QString base = environment.value(QStringLiteral("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vxupgrade");
}

QString RunHistory::DefaultFile(const QProcessEnvironment &environment)
{
    return StateFolder(environment) + QStringLiteral("/history.jsonl");
}

RunHistory::RunHistory(QString file, HistoryLimits limits)
    : path(std::move(file))
    , limits(limits)
{
}

std::optional<QString> RunHistory::append(const RunRecord &record) const
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("History not written: can't make the folder %1").arg(folder);
    // The index of verified sends follows every record, under the same lock.
    const SendIndex index(path, limits.keptFiles);
    const auto updateIndex = [&index, &record](int fd, const struct stat &before) {
        index.appended(record, fd, HistoryStamp{quint64(before.st_dev), quint64(before.st_ino), qint64(before.st_size)});
    };
    if (const std::optional<QString> why = HistoryWriter(path, limits).append(
            [&record](const HistoryWriter::Sink &sink) { return record.writeJsonLine(sink); }, updateIndex))
        return QStringLiteral("History not written to %1: %2").arg(path, *why);
    return std::nullopt;
}

RunHistory::Visit RunHistory::visit(const std::function<bool(RunRecord &&)> &take) const
{
    return HistoryReader(path, limits.keptFiles).visit(take);
}

RunHistory::Visit RunHistory::visitFilesOnDemand(const std::function<bool(VisitedRecord &&)> &take) const
{
    return HistoryReader(path, limits.keptFiles).walk(true, {}, take);
}

RunHistory::Reading RunHistory::read(const QString &address, int last) const
{
    // Records keep the plain form, older ones what was typed: any spelling
    // of an address asks for all of them.
    const QString wanted = address.isEmpty() ? QString() : PlainHistoryAddress(address);
    QList<RunRecord> newestFirst;
    const Visit visited = HistoryReader(path, limits.keptFiles).walk(false, wanted, [&](VisitedRecord &&visited) {
        if (wanted.isEmpty() || PlainHistoryAddress(visited.record.address) == wanted)
            newestFirst.append(std::move(visited.record));
        return last <= 0 || newestFirst.size() < last;
    });
    Reading reading;
    reading.unreadableLines = visited.unreadableLines;
    reading.error = visited.error;
    if (!reading.error)
        reading.records = QList<RunRecord>(newestFirst.crbegin(), newestFirst.crend());
    return reading;
}

} // namespace upgrade

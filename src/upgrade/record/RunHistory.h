#pragma once

#include "upgrade/record/HistoryFile.h"
#include "upgrade/record/HistoryReader.h"
#include "upgrade/record/RunRecord.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

namespace upgrade {

// The runs on record: one JSON object a line, appended under an exclusive
// lock so that runs in parallel never mix their lines. Past its limit the
// file is rotated, and a few older files are kept beside it; reading goes
// across them, newest first, and stops as soon as it has what was asked.
class RunHistory
{
public:
    // $XDG_STATE_HOME/vxupgrade (or ~/.local/state/vxupgrade): the history
    // and what is kept beside it; `environment` is the process's own unless
    // a caller hands another.
    [[nodiscard]] static QString StateFolder(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // StateFolder()/history.jsonl.
    [[nodiscard]] static QString DefaultFile(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    explicit RunHistory(QString file = DefaultFile(), HistoryLimits limits = {});

    // Appends one record; nothing on success, else why not, in a few words
    // for one memo line. A record is written whole or not at all.
    [[nodiscard]] std::optional<QString> append(const RunRecord &record) const;

    struct Reading
    {
        QList<RunRecord> records; // oldest first
        int unreadableLines = 0;
        std::optional<QString> error; // the history exists but can't be read
    };
    // The records of one instrument address (every one when empty), the
    // last `last` of them (all when 0 or less), from the oldest kept file to
    // the current one. A missing history has none. Lines that are no record
    // are counted among the lines read; with `last`, reading stops early.
    [[nodiscard]] Reading read(const QString &address = QString(), int last = 0) const;

    using Visit = HistoryVisit;
    // Hands each record to `take`, newest first (the current file, then the
    // kept ones), one at a time, so that a reader that keeps only what it
    // needs never holds the whole history; `take` returns false to stop
    // there. A missing history has none.
    [[nodiscard]] Visit visit(const std::function<bool(RunRecord &&)> &take) const;
    // The same, with each record's files read only when asked for. A file
    // entry that is none makes its line no record only then.
    [[nodiscard]] Visit visitFilesOnDemand(const std::function<bool(VisitedRecord &&)> &take) const;

    [[nodiscard]] QString fileName() const { return path; }

private:
    QString path;
    HistoryLimits limits;
};

} // namespace upgrade

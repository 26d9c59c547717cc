#pragma once

#include "upgrade/record/RunRecord.h"

#include <QString>

#include <functional>
#include <optional>

namespace upgrade {

// Records keep an address in its plain form; older ones kept what was
// typed, and any spelling of an address asks for every one of them.
[[nodiscard]] QString PlainHistoryAddress(const QString &address);

// What a walk through the history came to.
struct HistoryVisit
{
    qint64 records = 0;
    int unreadableLines = 0;
    std::optional<QString> error; // the history exists but can't be read
};

// The one reader of the history's lines, for the history's own readers and
// for the index rebuilt from it: the current file, then the kept ones,
// each from its end.
class HistoryReader
{
public:
    HistoryReader(QString file, int keptFiles);

    // Hands each record to `take`, newest first; `take` returns false to
    // stop there. Lines that are no record are counted, not handed on. With
    // a wanted address, lines that surely hold another instrument's record
    // are skipped before they are parsed; with filesOnDemand, a record's
    // files are left in its line until asked for. The current file is
    // opened and locked to read here unless the caller already holds it
    // open and locked (`heldFd`): a second lock would wait on its own.
    [[nodiscard]] HistoryVisit walk(bool filesOnDemand, const QString &wantedAddress,
                                    const std::function<bool(VisitedRecord &&)> &take, int heldFd = -1) const;
    // The same with whole records, every address.
    [[nodiscard]] HistoryVisit visit(const std::function<bool(RunRecord &&)> &take, int heldFd = -1) const;

private:
    QString path;
    int keptFiles;
};

} // namespace upgrade

#pragma once

#include "upgrade/record/HistoryFile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

#include <sys/stat.h>

namespace upgrade {

// Appends records to the history: one line each, under an exclusive lock,
// so that runs in parallel never mix their lines. A record always starts on
// a line of its own, even after a record that a crash or a full disk left
// unfinished, and is never cut in two: a file that would grow past its
// limit is rotated first (history.jsonl to history.1.jsonl, and so on;
// the oldest beyond the kept files goes).
class HistoryWriter
{
public:
    HistoryWriter(QString file, HistoryLimits limits);

    // Called once the line is written, with the lock still held: the file's
    // descriptor, and its stamp before the write.
    using Written = std::function<void(int fd, const struct stat &before)>;

    // `line` is one record without its line end. Nothing on success, else
    // why not, in a few words.
    [[nodiscard]] std::optional<QString> append(const QByteArray &line, const Written &written = {}) const;

    // A line made in pieces: the producer hands each to the sink, in order,
    // and must give the same pieces every time it is called (once to
    // measure the line against the limit, once to write it).
    using Sink = std::function<bool(QByteArrayView piece)>;
    using Producer = std::function<bool(const Sink &sink)>;
    [[nodiscard]] std::optional<QString> append(const Producer &line, const Written &written = {}) const;

private:
    // Called under the lock of the current file.
    [[nodiscard]] std::optional<QString> rotate() const;
    [[nodiscard]] std::optional<QString> write(int fd, qint64 size, const Producer &line) const;

    QString path;
    HistoryLimits limits;
};

} // namespace upgrade

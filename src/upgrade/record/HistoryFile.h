#pragma once

#include <QString>

#include <optional>

namespace upgrade {

// How big the history may grow: past `maxBytes` the file is rotated, and
// `keptFiles` older files are kept beside it.
struct HistoryLimits
{
    qint64 maxBytes = qint64(64) * 1024 * 1024;
    int keptFiles = 4;
};

// history.jsonl for 0, history.1.jsonl for 1 (one rotation older), ...
[[nodiscard]] QString RotatedHistoryFile(const QString &current, int age);

// The history file now at its path, open and locked: shared to read,
// exclusive to append. The lock is always on the file the path names when
// open() returns: a file that another run rotated away while this one
// waited for its lock is let go and the new one taken. To append, it is
// open to read too: the writer looks at the last byte. Closes (and so
// unlocks) on every way out.
class HistoryFile
{
public:
    enum class Mode { Read, Append };

    HistoryFile() = default;
    ~HistoryFile();
    HistoryFile(const HistoryFile &) = delete;
    HistoryFile &operator=(const HistoryFile &) = delete;

    // Nothing once open, else why not. Read: a missing file is no error,
    // and leaves isOpen() false.
    [[nodiscard]] std::optional<QString> open(const QString &path, Mode mode);
    [[nodiscard]] bool isOpen() const { return fd >= 0; }
    [[nodiscard]] int descriptor() const { return fd; }

private:
    void close();

    int fd = -1;
};

} // namespace upgrade

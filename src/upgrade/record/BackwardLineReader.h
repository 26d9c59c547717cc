#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace upgrade {

// Reads the lines of an open file from its end towards its start, a block
// at a time, so that the last few lines of a big file cost a few blocks.
// A last line without its line end is a line too. A line longer than
// MaxLineBytes is not kept: it comes as one empty line marked overlong.
class BackwardLineReader
{
public:
    static constexpr qsizetype BlockBytes = 64 * 1024;
    static constexpr qsizetype MaxLineBytes = 64 * 1024 * 1024;

    // Reads the file as it is now; `fd` stays the caller's.
    explicit BackwardLineReader(int fd);

    // The line before the one last returned, without its line end; false
    // at the start of the file, or on an error (see error()).
    [[nodiscard]] bool previous(QByteArray &line, bool &overlong);
    [[nodiscard]] const std::optional<QString> &error() const { return failure; }

private:
    [[nodiscard]] bool readBlock();

    int fd;
    qint64 position = 0; // where the bytes in `pending` begin
    QByteArray pending;  // read, not yet returned
    bool skipping = false;
    bool atStart = false;
    std::optional<QString> failure;
};

} // namespace upgrade

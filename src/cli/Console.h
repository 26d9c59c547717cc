#pragma once

#include <QString>

#include <cstdio>

namespace cli {

// Standard output and standard error of the command-line run, with the one
// live progress line that stands at the bottom of a terminal. Anything else
// printed while it stands first wipes it and then draws it again below, so
// memo lines and boxes never end up glued to a half progress line.
class Console
{
public:
    Console(std::FILE *out, std::FILE *err, bool errIsTerminal);
    ~Console();
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // One memo line to standard output.
    void printLine(const QString &line);
    // Text to standard error, a line break added when it has none.
    void printError(const QString &text);
    // A question to standard error, left open on its line for the answer.
    void printPrompt(const QString &text);

    // Replaces the progress line; ignored off a terminal, where a line
    // redrawn in place would only fill logs with carriage returns.
    void setProgress(const QString &text);
    void clearProgress();

    [[nodiscard]] bool showsProgress() const { return errIsTerminal; }

private:
    void wipe();
    void redraw();

    std::FILE *out;
    std::FILE *err;
    bool errIsTerminal;
    QString progress;
    bool progressDrawn = false;
};

} // namespace cli

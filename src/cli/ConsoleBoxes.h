#pragma once

#include "cli/CliOptions.h"

#include <QString>

#include <functional>
#include <optional>

namespace cli {

class Console;

// Answers the run's message boxes without a display: every box is printed to
// standard error with its kind and text, an OK box is acknowledged at once,
// and a Yes/No question (the low-space or the space question) is
// answered by --yes/--no, else on the terminal, else No.
class ConsoleBoxes
{
public:
    // Reads one line typed by the operator; nullopt at the end of the input.
    using LineReader = std::function<std::optional<QString>()>;

    ConsoleBoxes(Console &console, LowSpaceAnswer answer, bool inputIsTerminal, LineReader readLine);

    // The message-box function's stand-in: returns IDOK, IDYES or IDNO.
    int respond(const QString &text, const QString &caption, int flags);

    // "error", "information", "question" or "message", from the box's flags.
    [[nodiscard]] static QString kindOf(int flags);

private:
    [[nodiscard]] bool askOnTerminal();

    Console &console;
    LowSpaceAnswer answer;
    bool inputIsTerminal;
    LineReader readLine;
};

} // namespace cli

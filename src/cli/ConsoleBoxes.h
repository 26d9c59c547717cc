#pragma once

#include "cli/CliOptions.h"

#include <QString>

#include <functional>
#include <optional>

namespace cli {

class Console;

// Answers the run's message boxes without a display: every box is printed to
// standard error with its kind and text, an OK box is acknowledged at once,
// and a Yes/No question (the low-space prompt is the run's only one) is
// answered by --yes/--no, else on the terminal, else No. It also keeps what
// the boxes tell about how the run ended.
class ConsoleBoxes
{
public:
    // Reads one line typed by the operator; nullopt at the end of the input.
    using LineReader = std::function<std::optional<QString>()>;

    ConsoleBoxes(Console &console, LowSpaceAnswer answer, bool inputIsTerminal, LineReader readLine);

    // The message-box function's stand-in: returns IDOK, IDYES or IDNO.
    int respond(const QString &text, const QString &caption, int flags);

    [[nodiscard]] int errorBoxes() const { return errors; }
    [[nodiscard]] bool successShown() const { return success; }
    [[nodiscard]] bool declined() const { return saidNo; }

    // "error", "information", "question" or "message", from the box's flags.
    [[nodiscard]] static QString kindOf(int flags);

private:
    [[nodiscard]] bool askOnTerminal();

    Console &console;
    LowSpaceAnswer answer;
    bool inputIsTerminal;
    LineReader readLine;
    int errors = 0;
    bool success = false;
    bool saidNo = false;
};

} // namespace cli

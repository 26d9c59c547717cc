#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

// How the low-space question ("Click YES to continue?") is answered.
enum class LowSpaceAnswer { AskOnTerminal, Yes, No };

// What the command line asks for. Module names are checked against the
// window's boxes only once the window (and with it the catalogue) exists.
struct CliOptions
{
    QString address;
    QStringList signalModules; // in the order given, without repeats
    LowSpaceAnswer lowSpace = LowSpaceAnswer::AskOnTerminal;
    std::optional<QString> programDir;
    bool help = false;
    bool version = false;
};

struct ParsedArguments
{
    CliOptions options;
    QString error; // empty when the arguments are usable
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after "=" (--ip=10.0.0.1).
[[nodiscard]] ParsedArguments parseArguments(const QStringList &arguments);

[[nodiscard]] QString usageText();

// The module names that have a check box in the window, in the window's order.
[[nodiscard]] const QStringList &moduleBoxNames();

} // namespace cli

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace app {

// The window's command line: vxupgrade [--help | --version] [KITDIR].
struct StartOptions
{
    std::optional<QString> kitDir;
    bool help = false;
    bool version = false;
    QString error; // the first problem found; empty when the arguments are usable
    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// Reads the arguments after the program name. The whole list is read even
// after a problem, so that --help and --version are seen wherever they stand
// (also among the toolkit's own options, which are only removed once the
// application object exists). "--" ends the options: a kit folder may begin
// with "-".
[[nodiscard]] StartOptions parseStartOptions(const QStringList &arguments);
// The same for main's arguments, the program name skipped.
[[nodiscard]] StartOptions parseStartOptions(int argc, char *argv[]);

[[nodiscard]] QString startUsageText();

} // namespace app

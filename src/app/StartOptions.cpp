#include "app/StartOptions.h"

namespace app {

QString startUsageText()
{
    return QStringLiteral(
        "Usage: vxupgrade [KITDIR]\n"
        "\n"
        "Upgrades the software and signal files of a networked VX900 instrument:\n"
        "type its IP address, tick the modules whose signal files are to be\n"
        "refreshed, press Copy, and reboot the instrument when the window says so.\n"
        "\n"
        "KITDIR is the kit folder. It holds target (one folder per module, its\n"
        "signal files in SIGNAL), MainFrame (the system files) and, optionally,\n"
        "the module catalogue vxUpgrade.ini. Without KITDIR the program's own\n"
        "folder is the kit; when that holds none of target, MainFrame and\n"
        "vxUpgrade.ini, the window asks for the kit folder before it opens, and\n"
        "Cancel quits.\n"
        "\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "VX900_CMD_PORT and VX900_FTP_PORT, when set, replace the instrument's\n"
        "ports 5000 and 21 (for an instrument simulator on free ports).\n"
        "vxupgrade-cli runs the same upgrade without a display.\n");
}

StartOptions parseStartOptions(const QStringList &arguments)
{
    StartOptions options;
    auto problem = [&options](const QString &message) {
        if (options.error.isEmpty())
            options.error = message;
    };

    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument == QLatin1String("--help")) {
            options.help = true;
        } else if (!optionsEnded && argument == QLatin1String("--version")) {
            options.version = true;
        } else if (!optionsEnded && argument.startsWith(u'-') && argument.size() > 1) {
            problem(QStringLiteral("unknown option \"%1\"").arg(argument));
        } else if (argument.isEmpty()) {
            problem(QStringLiteral("the kit folder is an empty name"));
        } else if (options.kitDir) {
            problem(QStringLiteral("one kit folder only (\"%1\", then \"%2\")").arg(*options.kitDir, argument));
        } else {
            options.kitDir = argument;
        }
    }
    return options;
}

StartOptions parseStartOptions(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parseStartOptions(arguments);
}

} // namespace app

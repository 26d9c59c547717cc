#include "cli/ConsoleBoxes.h"

#include "cli/Console.h"
#include "platform/MessageBox.h"

#include <QStringList>

namespace cli {

namespace {

// An operator who keeps typing something else is not asked for ever.
constexpr int MaxPromptTries = 5;

QString indented(const QString &text)
{
    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = line.isEmpty() ? line : QStringLiteral("  ") + line;
    return lines.join(u'\n');
}

} // namespace

ConsoleBoxes::ConsoleBoxes(Console &console, LowSpaceAnswer answer, bool inputIsTerminal, LineReader readLine)
    : console(console)
    , answer(answer)
    , inputIsTerminal(inputIsTerminal)
    , readLine(std::move(readLine))
{
}

QString ConsoleBoxes::kindOf(int flags)
{
    switch (flags & 0xF0) {
    case platform::MB_ICONERROR:
        return QStringLiteral("error");
    case platform::MB_ICONINFORMATION:
        return QStringLiteral("information");
    case platform::MB_ICONQUESTION:
        return QStringLiteral("question");
    default:
        return QStringLiteral("message");
    }
}

int ConsoleBoxes::respond(const QString &text, const QString &caption, int flags)
{
    const QString kind = kindOf(flags);
    console.printError(QStringLiteral("[%1 box] %2\n%3").arg(kind, caption, indented(text)));

    if (!platform::IsQuestion(flags))
        return platform::IDOK;

    bool yes = false;
    switch (answer) {
    case LowSpaceAnswer::Yes:
        yes = true;
        console.printError(QStringLiteral("  answered Yes (--yes)"));
        break;
    case LowSpaceAnswer::No:
        console.printError(QStringLiteral("  answered No (--no)"));
        break;
    case LowSpaceAnswer::AskOnTerminal:
        if (inputIsTerminal) {
            yes = askOnTerminal();
        } else {
            console.printError(QStringLiteral("  answered No: there is no terminal to ask on "
                                              "(give --yes or --no to answer it)"));
        }
        break;
    }
    return yes ? platform::IDYES : platform::IDNO;
}

bool ConsoleBoxes::askOnTerminal()
{
    for (int attempt = 0; attempt < MaxPromptTries; ++attempt) {
        console.printPrompt(QStringLiteral("  Yes or No? [y/n] "));
        const std::optional<QString> line = readLine();
        if (!line) {
            console.printError(QStringLiteral("\n  answered No: the input ended"));
            return false;
        }
        const QString reply = line->trimmed().toLower();
        if (reply == QLatin1String("y") || reply == QLatin1String("yes"))
            return true;
        if (reply == QLatin1String("n") || reply == QLatin1String("no"))
            return false;
    }
    console.printError(QStringLiteral("  answered No: no y or n after %1 tries").arg(MaxPromptTries));
    return false;
}

} // namespace cli

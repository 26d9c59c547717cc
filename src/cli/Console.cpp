#include "cli/Console.h"

#include "platform/OutsideText.h"

namespace cli {

namespace {

// Back to the start of the line and erase it: understood by every terminal
// emulator in use (VT100).
constexpr const char *EraseLine = "\r\x1b[K";

} // namespace

Console::Console(std::FILE *out, std::FILE *err, bool errIsTerminal)
    : out(out)
    , err(err)
    , errIsTerminal(errIsTerminal)
{
}

Console::~Console()
{
    clearProgress();
}

void Console::printLine(const QString &line)
{
    wipe();
    // Memo lines and boxes quote the instrument's identity and its servers'
    // replies; the progress line's own controls are written apart.
    const QByteArray bytes = platform::PrintableLines(line).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    std::fputc('\n', out);
    // Lines are read as they come, by a person or by a script on a pipe.
    std::fflush(out);
    redraw();
}

void Console::printError(const QString &text)
{
    wipe();
    QByteArray bytes = platform::PrintableLines(text).toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), err);
    std::fflush(err);
    redraw();
}

void Console::printPrompt(const QString &text)
{
    wipe();
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), err);
    std::fflush(err);
    // No redraw: the answer is typed on this line.
}

void Console::setProgress(const QString &text)
{
    if (!errIsTerminal || (text == progress && progressDrawn))
        return;
    progress = text;
    // Standard output may share the terminal: what it holds must be shown
    // before the line is drawn under it.
    std::fflush(out);
    const QByteArray bytes = text.toUtf8();
    std::fputs(EraseLine, err);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), err);
    std::fflush(err);
    progressDrawn = true;
}

void Console::clearProgress()
{
    wipe();
    progress.clear();
}

void Console::wipe()
{
    if (!progressDrawn)
        return;
    std::fputs(EraseLine, err);
    std::fflush(err);
    progressDrawn = false;
}

void Console::redraw()
{
    if (!errIsTerminal || progress.isEmpty())
        return;
    setProgress(progress);
}

} // namespace cli

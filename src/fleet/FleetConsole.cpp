#include "fleet/FleetConsole.h"

#include "fleet/FleetRun.h"

#include <QTimer>

#include <sys/ioctl.h>
#include <unistd.h>

namespace fleet {

namespace {

constexpr int RedrawIntervalMs = 200;

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

FleetConsole::FleetConsole(FleetRun &run, std::FILE *out, std::FILE *err, bool live, QObject *parent)
    : QObject(parent)
    , run(run)
    , out(out)
    , err(err)
    , live(live)
{
    if (live) {
        redrawTimer = new QTimer(this);
        redrawTimer->setInterval(RedrawIntervalMs);
        connect(redrawTimer, &QTimer::timeout, this, [this] {
            if (dirty)
                redraw();
        });
        connect(&run, &FleetRun::changed, this, [this] {
            dirty = true;
            if (!redrawTimer->isActive()) {
                redraw();
                redrawTimer->start();
            }
        });
    } else {
        connect(&run, &FleetRun::childEvent, this, &FleetConsole::printEvent);
        connect(&run, &FleetRun::ended, this, &FleetConsole::printEnd);
    }
}

void FleetConsole::finish()
{
    if (!live)
        return;
    redrawTimer->stop();
    redraw();
}

QString FleetConsole::liveLine(int index, int width) const
{
    const InstrumentState &state = run.instruments()[index];
    QString line = state.address.leftJustified(16);
    if (state.outcome != Outcome::Running)
        return (line + state.stepText()).left(width);
    line += state.stepText().left(24).leftJustified(26);
    const int percent = state.percent();
    line += percent < 0 ? QStringLiteral("   --") : QStringLiteral("%1%").arg(percent, 4);
    const double rate = state.rate(run.elapsedMs());
    if (rate > 0.0)
        line += QStringLiteral("  %1 MiB/s").arg(rate / (1024.0 * 1024.0), 6, 'f', 1);
    return line.left(width);
}

void FleetConsole::redraw()
{
    dirty = false;
    const int width = std::max(terminalWidth() - 1, 20);
    QString text;
    if (linesDrawn > 0)
        text += QStringLiteral("\x1b[%1A").arg(linesDrawn);
    const auto &states = run.instruments();
    for (int i = 0; i < states.size(); ++i)
        text += QStringLiteral("\r\x1b[2K") + liveLine(i, width) + u'\n';
    linesDrawn = int(states.size());
    write(err, text);
    std::fflush(err);
}

int FleetConsole::terminalWidth() const
{
    winsize size{};
    if (::ioctl(fileno(err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void FleetConsole::printPrefixed(std::FILE *stream, int index, const QString &text)
{
    const QString prefix = QStringLiteral("[%1] ").arg(run.instruments()[index].address);
    QString lines;
    for (const QString &line : text.split(u'\n'))
        lines += prefix + line + u'\n';
    write(stream, lines);
    std::fflush(stream);
}

void FleetConsole::printEvent(int index, const ChildEvent &event)
{
    switch (event.kind) {
    case ChildEvent::Kind::Memo:
    case ChildEvent::Kind::Text:
        printPrefixed(out, index, event.text);
        break;
    case ChildEvent::Kind::Box: {
        // As the single run prints a box: "[kind box] caption", then its
        // text indented.
        QString text = QStringLiteral("[%1 box] %2").arg(event.name, event.caption);
        for (const QString &line : event.text.split(u'\n'))
            text += QStringLiteral("\n    ") + line;
        if (!event.outcome.isEmpty())
            text += QStringLiteral("\n    answered: ") + event.outcome;
        printPrefixed(err, index, text);
        break;
    }
    default:
        break;
    }
}

void FleetConsole::printEnd(int index)
{
    printPrefixed(err, index, QStringLiteral("ended: ") + run.instruments()[index].stepText());
}

} // namespace fleet

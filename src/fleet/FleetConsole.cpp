#include "fleet/FleetConsole.h"

#include "fleet/FleetReport.h"
#include "fleet/FleetRun.h"
#include "platform/OutsideText.h"

#include <QSize>
#include <QTimer>

#include <map>

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

FleetConsole::Streams FleetConsole::standardStreams(bool json)
{
    Streams streams;
    if (json) {
        streams.memo = stderr;
        streams.records = stdout;
        streams.table = stderr;
    }
    return streams;
}

FleetConsole::FleetConsole(FleetRun &run, Streams streams, bool live, QObject *parent)
    : QObject(parent)
    , run(run)
    , streams(streams)
    , live(live)
{
    if (streams.records) {
        connect(&run, &FleetRun::ended, this, [this](int index) {
            const QByteArray line = reportRecordLine(this->run.instruments()[index]);
            std::fwrite(line.constData(), 1, size_t(line.size()), this->streams.records);
            std::fflush(this->streams.records);
        });
    }
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
    if (live) {
        redrawTimer->stop();
        redraw();
    }
    write(streams.table, fleetTable(run.instruments(), run.audits()));
    std::fflush(streams.table);
}

QString FleetConsole::liveLine(int index, int width) const
{
    const InstrumentState &state = run.instruments()[index];
    // The step's text may quote what the child or its instrument said.
    const QString step = platform::PrintableText(state.stepText());
    QString line = state.address.leftJustified(16);
    if (state.outcome != Outcome::Running)
        return (line + step).left(width);
    line += step.left(24).leftJustified(26);
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
    const QSize size = terminalSize();
    const int width = std::max(size.width() - 1, 20);
    const auto &states = run.instruments();

    // Cursor movements cannot reach above the top of the screen, so a fleet
    // taller than the terminal shows a count and the runs still going.
    QList<int> shown;
    QString summary;
    if (states.size() < size.height()) {
        for (int i = 0; i < states.size(); ++i)
            shown << i;
    } else {
        std::map<QString, int> counts;
        for (int i = 0; i < states.size(); ++i) {
            ++counts[outcomeName(states[i].outcome)];
            if (states[i].outcome == Outcome::Running && shown.size() < size.height() - 2)
                shown << i;
        }
        for (const auto &[name, count] : counts)
            summary += QStringLiteral("%1%2 %3").arg(summary.isEmpty() ? QString() : QStringLiteral(", ")).arg(count).arg(name);
    }

    QString text;
    if (linesDrawn > 0)
        text += QStringLiteral("\r\x1b[%1A").arg(linesDrawn);
    if (!summary.isEmpty())
        text += QStringLiteral("\x1b[2K") + summary.left(width) + u'\n';
    for (const int i : shown)
        text += QStringLiteral("\x1b[2K") + liveLine(i, width) + u'\n';
    text += QStringLiteral("\x1b[J"); // lines left over from a taller drawing
    linesDrawn = int(shown.size()) + (summary.isEmpty() ? 0 : 1);
    write(streams.err, text);
    std::fflush(streams.err);
}

QSize FleetConsole::terminalSize() const
{
    winsize size{};
    if (::ioctl(fileno(streams.err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
        return QSize(size.ws_col, size.ws_row);
    return QSize(80, 24);
}

void FleetConsole::printPrefixed(std::FILE *stream, int index, const QString &text)
{
    // A child's lines quote its instrument and may come from a child that
    // is not this program at all.
    const QString prefix = QStringLiteral("[%1] ").arg(run.instruments()[index].address);
    QString lines;
    for (const QString &line : text.split(u'\n'))
        lines += prefix + platform::PrintableText(line) + u'\n';
    write(stream, lines);
    std::fflush(stream);
}

void FleetConsole::printEvent(int index, const ChildEvent &event)
{
    switch (event.kind) {
    case ChildEvent::Kind::Memo:
    case ChildEvent::Kind::Text:
        printPrefixed(streams.memo, index, event.text);
        break;
    case ChildEvent::Kind::Box: {
        // As the single run prints a box: "[kind box] caption", then its
        // text indented.
        QString text = QStringLiteral("[%1 box] %2").arg(event.name, event.caption);
        for (const QString &line : event.text.split(u'\n'))
            text += QStringLiteral("\n    ") + line;
        if (!event.outcome.isEmpty())
            text += QStringLiteral("\n    answered: ") + event.outcome;
        printPrefixed(streams.err, index, text);
        break;
    }
    default:
        break;
    }
}

void FleetConsole::printEnd(int index)
{
    printPrefixed(streams.err, index, QStringLiteral("ended: ") + run.instruments()[index].stepText());
}

} // namespace fleet

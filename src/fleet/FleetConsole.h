#pragma once

#include "fleet/ChildProtocol.h"

#include <QObject>
#include <QString>

#include <cstdio>

class QSize;
class QTimer;

namespace fleet {

class FleetRun;

// The console's view of a fleet run.
//
// On a terminal: one line per instrument (address, step, percent, rate),
// redrawn in place on standard error a few times a second; memo lines are
// not printed (each child's own record keeps what it did).
// Off a terminal: every memo line and box, and each instrument's end, is
// printed once as it comes, prefixed with "[ADDRESS] ", so that a log of
// many runs can be read, or grepped, per instrument.
//
// With --json, each instrument's record is printed as one JSON line the
// moment its run ends, and the memo lines and the table move to standard
// error: standard output then carries nothing but records.
class FleetConsole : public QObject
{
    Q_OBJECT

public:
    struct Streams
    {
        std::FILE *memo = stdout;    // memo lines (off a terminal)
        std::FILE *err = stderr;     // boxes, ends, the live lines
        std::FILE *records = nullptr; // --json: one record a line
        std::FILE *table = stdout;   // the end table
    };
    // The streams of a console run, with or without --json.
    [[nodiscard]] static Streams standardStreams(bool json);

    FleetConsole(FleetRun &run, Streams streams, bool live, QObject *parent);

    // Once the fleet has finished: the live lines a last time (their end
    // states), then the table.
    void finish();

    // One instrument's live line, cut to `width` characters.
    [[nodiscard]] QString liveLine(int index, int width) const;

private:
    void printEvent(int index, const ChildEvent &event);
    void printEnd(int index);
    void printPrefixed(std::FILE *stream, int index, const QString &text);
    void redraw();
    [[nodiscard]] QSize terminalSize() const;

    FleetRun &run;
    Streams streams;
    bool live;
    QTimer *redrawTimer = nullptr;
    int linesDrawn = 0;
    bool dirty = false;
};

} // namespace fleet

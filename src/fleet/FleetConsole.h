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
// Memo lines go to `out` (the CLI hands standard error under --json, where
// standard output carries only records); boxes and the live lines go to
// `err`.
class FleetConsole : public QObject
{
    Q_OBJECT

public:
    FleetConsole(FleetRun &run, std::FILE *out, std::FILE *err, bool live, QObject *parent);

    // Draws the live lines a last time (the end states), so that the table
    // follows them.
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
    std::FILE *out;
    std::FILE *err;
    bool live;
    QTimer *redrawTimer = nullptr;
    int linesDrawn = 0;
    bool dirty = false;
};

} // namespace fleet

#pragma once

#include "platform/MessageBox.h"

#include <QByteArray>
#include <QMetaType>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

class QPlainTextEdit;

// A program folder for one test: the window is built on it, so it holds the
// INI file and the "target" and "MainFrame" trees the run reads.
class ProgramFolder
{
public:
    // Path with a trailing separator, as the window keeps its program folder.
    [[nodiscard]] QString path() const { return dir.path() + QLatin1Char('/'); }
    // Writes a file (folders made as needed) and returns its full path.
    QString write(const QString &relativePath, const QByteArray &content);
    void makeFolder(const QString &relativePath);
    // Writes vxUpgrade.ini with one "ENTRY n" section per (id, name, hasSignal).
    struct Entry { int id; QString name; int hasSignal; };
    void writeIni(const QList<Entry> &entries);

private:
    QTemporaryDir dir;
};

Q_DECLARE_METATYPE(ProgramFolder::Entry)

// Every message box shown while it lives, answered by `answer` (OK by
// default; Yes/No boxes get IDYES unless told otherwise).
class BoxLog
{
public:
    struct Box { QString text; QString caption; int flags; };

    BoxLog();
    ~BoxLog();
    BoxLog(const BoxLog &) = delete;
    BoxLog &operator=(const BoxLog &) = delete;

    std::function<int(const Box &)> answer;
    // Runs inside the box, before it is answered (the run is paused there).
    std::function<void(const Box &)> whileShown;
    QList<Box> boxes;

    [[nodiscard]] QStringList texts() const;

private:
    platform::MessageBoxResponder previous;
};

// The memo's lines.
[[nodiscard]] QStringList memoLines(const QPlainTextEdit *memo);

// Deterministic content of `size` bytes, different for every `seed`.
[[nodiscard]] QByteArray sampleBytes(qsizetype size, int seed);

class TUpgradeWindow;

// Presses Copy with the mouse, as the operator does: the click goes through
// the application object, which shows an exception leaving the run in a box.
void pressCopy(TUpgradeWindow &window);

// The memo with each run of "Copying... " lines sorted: a folder's entries
// come in the file system's order, which no test may rely on.
[[nodiscard]] QStringList memoWithCopyRunsSorted(const QPlainTextEdit *memo);
// The same for lines gathered elsewhere (a program's standard output).
[[nodiscard]] QStringList withCopyRunsSorted(QStringList lines);

// The fixture file (below the program folder) that an instrument file
// (below "/F0:/") is the copy of: system files come from MainFrame,
// everything else from target.
[[nodiscard]] QString sourceOf(const QString &driveFile);

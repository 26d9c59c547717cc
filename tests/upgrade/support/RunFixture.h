#pragma once

#include "platform/MessageBox.h"

#include <QByteArray>
#include <QMetaType>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A program folder for one test: the catalogue is read from it and the run
// copies its "target" and "MainFrame" trees.
class ProgramFolder
{
public:
    // Path with a trailing separator, as the program keeps its folder.
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

// A box as the run or the link asked it.
struct RecordedBox
{
    QString text;
    QString caption;
    int flags = 0;
};

// Boxes as they come, each answered by `answer`: OK, and Yes to a question,
// unless it says otherwise.
class BoxAnswers
{
public:
    using Box = RecordedBox;

    QList<Box> shown;
    std::function<int(const Box &)> answer;
    // Runs inside the box, before it is answered (the run waits there).
    std::function<void(const Box &)> whileShown;

    [[nodiscard]] QStringList texts() const;
    int take(const QString &text, const QString &caption, int flags);
};

// Every box shown through platform::MessageBox while it lives.
class BoxLog : public BoxAnswers
{
public:
    BoxLog();
    ~BoxLog();
    BoxLog(const BoxLog &) = delete;
    BoxLog &operator=(const BoxLog &) = delete;

private:
    platform::MessageBoxResponder previous;
};

// Deterministic content of `size` bytes, different for every `seed`.
[[nodiscard]] QByteArray sampleBytes(qsizetype size, int seed);

// The lines with each run of "Copying... " lines sorted: a folder's entries
// come in the file system's order, which no test may rely on.
[[nodiscard]] QStringList withCopyRunsSorted(QStringList lines);

// The fixture file (below the program folder) that an instrument file
// (below "/F0:/") is the copy of: system files come from MainFrame,
// everything else from target.
[[nodiscard]] QString sourceOf(const QString &driveFile);

#pragma once

#include "upgrade/common/RunVocabulary.h"

#include <QByteArray>
#include <QString>

// What an upgrade run tells its view (the window, the console): memo lines,
// progress, each file, the boxes it needs answered, and how it ended.

namespace upgrade {

// How the run ended, as a value.
struct RunResult
{
    RunOutcome outcome = RunOutcome::Failed;
    RunStep step = RunStep::Connect; // the step the run ended in
    // What the operator was told last: the box that ended the run (the
    // success box included), or the message of the error raised below.
    QString message;
    // The message is an error raised below the run rather than a box of its
    // own: the view shows it as the application shows any error.
    bool raised = false;
    // Nothing was changed for good: the link is as Connect left it and the
    // catalogue is untouched, so the operator may correct the address and
    // run again. Every other end closes the link and ends the program.
    bool mayRetry = false;
    // With a success: something the operator should know that did not stop
    // the upgrade (the server did not close cleanly). One line.
    QString note;
    QByteArray identity; // the instrument's "*IDN?" reply, when it was read
    qint64 filesCopied = 0; // NAME files included
    qint64 bytesCopied = 0; // of the measured trees
    qint64 bytesTotal = 0;  // measured
};

// One file sent to the instrument: a module or system file, or a NAME file
// (whose local copy is a temporary file).
struct FileTransfer
{
    QString localPath;
    QString instrumentPath;
    qint64 size = 0;
    // One of the kit's files, which the run's record lists; a NAME file is
    // the run's own and is not.
    bool ofKit = true;
};

struct RunProgress
{
    qint64 copiedBytes = 0; // whole files sent, plus what has gone of the current one
    qint64 totalBytes = 0;  // everything measured
    int bar = 0;            // the bar's position, 0 to 100, as the window shows it
    QString file;           // the instrument path of the file on its way; empty between files
};

class RunObserver
{
public:
    virtual ~RunObserver() = default;

    // A run begins: the memo is cleared and the bar set to 0.
    virtual void runStarted() {}
    virtual void stepEntered(RunStep) {}
    virtual void memoLine(const QString &line) = 0;
    virtual void progress(const RunProgress &) {}
    virtual void fileStarted(const FileTransfer &) {}
    // SentNotVerifiable when the transfer completed, else Failed.
    virtual void fileEnded(const FileTransfer &, upgrade::FileOutcome) {}
    // A box of the run or of its link (platform/MessageBox.h flags); the
    // view shows it and returns the answer: IDOK, IDYES or IDNO. The run
    // waits for the answer.
    virtual int box(const QString &text, const QString &caption, int flags) = 0;
    virtual void runEnded(const RunResult &) {}
    // The run's record could not be written: `line` names the file and the
    // reason, and the memo has had it too. A console says it on standard
    // error as well, where a script that reads only the status looks.
    virtual void recordNotWritten(const QString &) {}
};

} // namespace upgrade

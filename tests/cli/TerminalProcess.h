#pragma once

#include <QByteArray>
#include <QStringList>

#include <sys/types.h>

// Runs a program with a pseudo-terminal as its standard input, output and
// error, so that it sees what an operator's shell gives it. Every wait is
// bounded; a program still running when the object goes is killed.
class TerminalProcess
{
public:
    TerminalProcess() = default;
    ~TerminalProcess();
    TerminalProcess(const TerminalProcess &) = delete;
    TerminalProcess &operator=(const TerminalProcess &) = delete;

    // `environment` holds "NAME=value" entries: the program's whole environment.
    [[nodiscard]] bool start(const QString &program, const QStringList &arguments, const QStringList &environment);
    // Reads until `text` has appeared in the output, at most timeoutMs.
    [[nodiscard]] bool waitForOutput(const QByteArray &text, int timeoutMs);
    void write(const QByteArray &bytes);
    // Reads to the end and reaps the program; its exit status, or -1 when it
    // did not end in time (it is killed then) or ended by a signal.
    [[nodiscard]] int waitForFinished(int timeoutMs);

    [[nodiscard]] QByteArray output() const { return received; }

private:
    // Reads what is there, waiting at most timeoutMs; false at the end.
    bool readSome(int timeoutMs);

    pid_t child = -1;
    int master = -1;
    QByteArray received;
};

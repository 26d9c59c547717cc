#include "TerminalProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

TerminalProcess::~TerminalProcess()
{
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    if (master >= 0)
        ::close(master);
}

bool TerminalProcess::start(const QString &program, const QStringList &arguments, const QStringList &environment)
{
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<QByteArray> variables;
    for (const QString &variable : environment)
        variables.push_back(variable.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &item : storage)
        argv.push_back(item.data());
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (QByteArray &item : variables)
        envp.push_back(item.data());
    envp.push_back(nullptr);

    child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child < 0)
        return false;
    if (child == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return true;
}

bool TerminalProcess::readSome(int timeoutMs)
{
    pollfd fd{master, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0)
        return true; // nothing yet
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0)
        return false; // the terminal's other side is closed: the program ended
    received.append(buffer, got);
    return true;
}

bool TerminalProcess::waitForOutput(const QByteArray &text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!received.contains(text)) {
        if (deadline.hasExpired() || !readSome(int(qMax<qint64>(1, deadline.remainingTime()))))
            return received.contains(text);
    }
    return true;
}

void TerminalProcess::write(const QByteArray &bytes)
{
    [[maybe_unused]] const ssize_t written = ::write(master, bytes.constData(), size_t(bytes.size()));
}

int TerminalProcess::waitForFinished(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && readSome(int(qMax<qint64>(1, deadline.remainingTime())))) {
    }
    // The terminal is closed once the program has ended or is ending: wait
    // for the end itself through a process descriptor, with the time left.
    const int process = int(::syscall(SYS_pidfd_open, child, 0));
    if (process >= 0) {
        pollfd fd{process, POLLIN, 0};
        ::poll(&fd, 1, int(qMax<qint64>(0, deadline.remainingTime())));
        ::close(process);
    }
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) != child) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        child = -1;
        return -1;
    }
    child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

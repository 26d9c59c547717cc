#include "fleet/FleetRun.h"

#include "fleet/ChildVerdict.h"
#include "fleet/FleetReport.h"
#include "upgrade/record/RunHistory.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace fleet {

namespace {

// A child's standard error is free text; a line without a break is cut here
// so that a babbling child cannot fill the memory.
constexpr qsizetype MaxErrorLineBytes = 64 * 1024;

} // namespace

struct FleetRun::Child
{
    QPointer<QProcess> process;
    ChildLineReader reader;
    QByteArray errorPending;
    QString lastErrorLine;
    QElapsedTimer clock;
    QDateTime startedUtc;
    QList<upgrade::RecordedFile> files; // as the child reported them
    bool terminated = false; // SIGTERM sent by the fleet
    bool killed = false;     // SIGKILL sent by the fleet
    QElapsedTimer sinceTerminate;
    bool crashed = false;
    int exitCode = 0;
    QString startError;
};

FleetRun::FleetRun(FleetSettings settings, const QStringList &addresses, QObject *parent)
    : QObject(parent)
    , settings(std::move(settings))
{
    for (const QString &address : addresses) {
        InstrumentState state;
        state.address = address;
        states << state;
        children.push_back(std::make_unique<Child>());
    }
    if (this->settings.jobs <= 0)
        this->settings.jobs = defaultJobs(int(addresses.size()));
    graceTimer = new QTimer(this);
    graceTimer->setSingleShot(true);
    connect(graceTimer, &QTimer::timeout, this, &FleetRun::kill);
}

FleetRun::~FleetRun()
{
    // Nothing may call back into a fleet that is going away, and no child
    // may outlive it unwatched.
    for (const auto &child : children) {
        if (!child->process)
            continue;
        child->process->disconnect(this);
        if (child->process->state() != QProcess::NotRunning) {
            child->process->kill();
            child->process->waitForFinished(5000);
        }
    }
}

int FleetRun::defaultJobs(int instruments)
{
    return std::clamp(instruments, 1, 8);
}

std::optional<int> FleetRun::parseJobs(const QString &text)
{
    bool ok = false;
    const int jobs = text.toInt(&ok);
    if (!ok || jobs < 1 || jobs > 256)
        return std::nullopt;
    return jobs;
}

QStringList FleetRun::childArguments(const QString &address) const
{
    QStringList arguments = settings.leadingArguments;
    arguments << QStringLiteral("--fleet-child") << QStringLiteral("--ip") << address;
    if (!settings.kitDir.isEmpty())
        arguments << QStringLiteral("--dir") << settings.kitDir;
    // An audit asks nothing, and takes no answer.
    if (!settings.audit)
        arguments << (settings.answer == FleetAnswer::Yes ? QStringLiteral("--yes") : QStringLiteral("--no"));
    arguments << settings.extraArguments;
    return arguments;
}

bool FleetRun::isFinished() const
{
    return finishedSent;
}

void FleetRun::start()
{
    clock.start();
    startNext();
    checkFinished();
}

void FleetRun::startNext()
{
    while (!stopping && running < settings.jobs && nextToStart < states.size())
        startChild(nextToStart++);
}

void FleetRun::startChild(int index)
{
    Child &child = *children[size_t(index)];
    auto *process = new QProcess(this);
    child.process = process;
    process->setProgram(settings.program);
    process->setArguments(childArguments(states[index].address));
    process->setStandardInputFile(QProcess::nullDevice());
    const pid_t fleetPid = ::getpid();
    process->setChildProcessModifier([fleetPid] {
        // Its own process group: Ctrl-C on the terminal reaches the fleet
        // alone, which then stops each child once. A second signal would
        // end the child at once, without its record.
        ::setpgid(0, 0);
        // A fleet that dies (even by SIGKILL) stops its children as
        // closing the window would, rather than leaving them unwatched.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != fleetPid)
            ::raise(SIGTERM);
    });
    connect(process, &QProcess::readyReadStandardOutput, this, [this, index] { readOutput(index); });
    connect(process, &QProcess::readyReadStandardError, this, [this, index] { readErrors(index, false); });
    connect(process, &QProcess::finished, this, [this, index](int exitCode, QProcess::ExitStatus status) {
        childFinished(index, exitCode, status == QProcess::CrashExit);
    });
    connect(process, &QProcess::errorOccurred, this, [this, index](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            childFailedToStart(index);
    });

    ++running;
    states[index].outcome = Outcome::Running;
    child.clock.start();
    child.startedUtc = QDateTime::currentDateTimeUtc();
    emit changed(index);
    process->start();
}

void FleetRun::readOutput(int index)
{
    Child &child = *children[size_t(index)];
    if (!child.process)
        return;
    for (const ChildEvent &event : child.reader.feed(child.process->readAllStandardOutput()))
        apply(index, event);
}

void FleetRun::readErrors(int index, bool atEnd)
{
    Child &child = *children[size_t(index)];
    if (!child.process)
        return;
    child.errorPending += child.process->readAllStandardError();
    auto emitLine = [&](QByteArray line) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            return;
        ChildEvent event;
        event.kind = ChildEvent::Kind::Text;
        event.text = QString::fromUtf8(line);
        child.lastErrorLine = event.text;
        emit childEvent(index, event);
    };
    qsizetype start = 0;
    for (qsizetype end; (end = child.errorPending.indexOf('\n', start)) >= 0; start = end + 1)
        emitLine(child.errorPending.mid(start, end - start));
    child.errorPending.remove(0, start);
    if (atEnd || child.errorPending.size() > MaxErrorLineBytes) {
        emitLine(child.errorPending);
        child.errorPending.clear();
    }
}

void FleetRun::apply(int index, const ChildEvent &event)
{
    InstrumentState &state = states[index];
    switch (event.kind) {
    case ChildEvent::Kind::Step:
        state.step = event.name;
        state.stepDetail = event.text;
        break;
    case ChildEvent::Kind::Progress:
        if (state.copyStartMs < 0)
            state.copyStartMs = clock.elapsed();
        state.bytesDone = event.done;
        state.bytesTotal = event.total;
        break;
    case ChildEvent::Kind::File:
        if (event.outcome.startsWith(QLatin1String("sent-")))
            ++state.filesSent;
        children[size_t(index)]->files.append(
            upgrade::RecordedFile{event.path, event.total, QByteArray(),
                                  upgrade::FileOutcomeNamed(event.outcome).value_or(upgrade::FileOutcome::Failed)});
        break;
    case ChildEvent::Kind::Identity:
        state.identity = event.text;
        break;
    case ChildEvent::Kind::Record:
        state.record = event.record;
        break;
    case ChildEvent::Kind::Memo:
    case ChildEvent::Kind::Box:
    case ChildEvent::Kind::Text:
        break;
    }
    emit childEvent(index, event);
    if (event.kind != ChildEvent::Kind::Memo && event.kind != ChildEvent::Kind::Text
        && event.kind != ChildEvent::Kind::Box)
        emit changed(index);
}

void FleetRun::childFailedToStart(int index)
{
    Child &child = *children[size_t(index)];
    if (!child.process || hasEnded(states[index].outcome))
        return;
    child.startError = child.process->errorString();
    child.process->deleteLater();
    --running;
    settle(index);
}

void FleetRun::childFinished(int index, int exitCode, bool crashed)
{
    Child &child = *children[size_t(index)];
    if (!child.process || hasEnded(states[index].outcome))
        return;
    // What is still in the pipes belongs to the run.
    readOutput(index);
    for (const ChildEvent &event : child.reader.finish())
        apply(index, event);
    readErrors(index, true);
    child.exitCode = exitCode;
    child.crashed = crashed;
    child.process->deleteLater();
    --running;
    settle(index);
}

void FleetRun::settle(int index)
{
    Child &child = *children[size_t(index)];
    InstrumentState &state = states[index];
    state.elapsedMs = child.clock.isValid() ? child.clock.elapsed() : 0;

    const QJsonObject &record = state.record;
    state.reboot = record.value(recordkey::Reboot).toString();
    state.audit = record.value(recordkey::Audit).toObject();
    ChildEnd end;
    end.startError = child.startError;
    end.crashed = child.crashed;
    end.exitCode = child.exitCode;
    end.terminated = child.terminated;
    end.killed = child.killed;
    end.sinceTerminateMs = child.sinceTerminate.isValid() ? child.sinceTerminate.elapsed() : 0;
    end.lastErrorLine = child.lastErrorLine;
    const ChildVerdict verdict = JudgeChildEnd(end, record, state);
    state.outcome = verdict.outcome;
    state.message = verdict.message;
    state.childExit = verdict.childExit;

    if (state.outcome == Outcome::Declined && settings.answer == FleetAnswer::Unset)
        state.message = joinDetail(state.message.isEmpty() ? QStringLiteral("answered No") : state.message,
                                   QStringLiteral("no --yes given"));
    const QString recordedIdentity = record.value(recordkey::Identity).toString();
    if (!recordedIdentity.isEmpty())
        state.identity = recordedIdentity;
    if (record.value(recordkey::Bytes).isDouble())
        state.bytesDone = record.value(recordkey::Bytes).toInteger();
    if (child.startError.isEmpty() && record.isEmpty())
        putCrashOnRecord(index);

    emit changed(index);
    emit ended(index);
    startNext();
    checkFinished();
}

void FleetRun::putCrashOnRecord(int index)
{
    // A child puts its run on record as it ends; one that died first (a
    // kill, a crash) would leave no trace of what it may have written to
    // the instrument. The fleet saw enough of it to say.
    if (settings.historyFile.isEmpty())
        return;
    const Child &child = *children[size_t(index)];
    const InstrumentState &state = states[index];
    upgrade::RunRecord record = upgrade::RunRecord::begin();
    if (child.startedUtc.isValid())
        record.started = child.startedUtc;
    record.address = state.address;
    record.identity = state.identity;
    record.kitFolder = settings.kitDir;
    record.files = child.files;
    record.bytes = state.bytesDone;
    record.childExit = state.childExit;
    record.finish(upgrade::CrashedOutcomeName(),
                  state.stepDetail.isEmpty() ? state.step : state.step + QLatin1Char(' ') + state.stepDetail,
                  state.message);
    if (const std::optional<QString> error = upgrade::RunHistory(settings.historyFile).append(record)) {
        ChildEvent event;
        event.text = QStringLiteral("The run could not be put on record: ") + *error;
        emit childEvent(index, event);
    }
}

void FleetRun::stop()
{
    if (finishedSent)
        return;
    const bool first = !stopping;
    stopping = true;
    for (const auto &child : children) {
        if (child->process && child->process->state() != QProcess::NotRunning && !child->terminated) {
            child->terminated = true;
            child->sinceTerminate.start();
            child->process->terminate();
        }
    }
    if (first) {
        for (; nextToStart < states.size(); ++nextToStart) {
            InstrumentState &state = states[nextToStart];
            state.outcome = Outcome::Stopped;
            state.message = QStringLiteral("not started: the fleet run was stopped");
            state.childExit = QStringLiteral("not started");
            emit changed(nextToStart);
            emit ended(nextToStart);
        }
        if (running > 0)
            graceTimer->start(settings.stopGraceMs);
    }
    checkFinished();
}

void FleetRun::kill()
{
    stop();
    for (const auto &child : children) {
        if (child->process && child->process->state() != QProcess::NotRunning) {
            child->killed = true;
            child->process->kill();
        }
    }
}

void FleetRun::checkFinished()
{
    if (finishedSent || running > 0 || nextToStart < states.size())
        return;
    finishedSent = true;
    graceTimer->stop();
    emit finished();
}

} // namespace fleet

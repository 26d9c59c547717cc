#include "instrument/FtpSessionPool.h"

#include "ftp/TNMFTP.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include <atomic>

class FtpSessionPool::Session : public QThread
{
public:
    explicit Session(FtpSessionPool &pool)
        : pool(pool)
    {
    }

    std::atomic<qint64> sent{0};

    // From the owner's thread: the engine's wait ends on its own thread.
    void abortTransfer()
    {
        QMutexLocker locked(&engineLock);
        if (engine) {
            TNMFTP *ftp = engine;
            QMetaObject::invokeMethod(ftp, [ftp] {
                ftp->Abort();
                ftp->Cancel();
            }, Qt::QueuedConnection);
        }
    }

protected:
    void run() override;

private:
    void configure(TNMFTP &ftp);
    [[nodiscard]] bool logIn(TNMFTP &ftp);
    // Sends queued files until none is left, or the pool stops.
    void serve(TNMFTP &ftp);
    [[nodiscard]] Outcome send(TNMFTP &ftp, Job &job);

    FtpSessionPool &pool;
    QMutex engineLock;
    TNMFTP *engine = nullptr;
    QList<std::pair<Notice, TCmdType>> *notices = nullptr;
};

void FtpSessionPool::Session::run()
{
    TNMFTP ftp(nullptr);
    configure(ftp);
    {
        QMutexLocker locked(&engineLock);
        engine = &ftp;
    }
    if (logIn(ftp))
        serve(ftp);
    {
        QMutexLocker locked(&engineLock);
        engine = nullptr;
    }
    if (!ftp.Connected)
        return;
    // After an abort the server may be the reason: no QUIT to wait on.
    if (pool.aborted)
        static_cast<TPowersock &>(ftp).Disconnect();
    else
        static_cast<void>(ftp.Disconnect()); // every file is stored by now; a bad QUIT changes nothing
}

void FtpSessionPool::Session::configure(TNMFTP &ftp)
{
    const Settings &settings = pool.settings;
    ftp.Host = settings.host;
    ftp.Port = settings.port;
    ftp.TimeOut = settings.timeOut;
    ftp.UserID = settings.user;
    ftp.Password = settings.password;
    ftp.Passive = false; // the instrument's link knows only active mode
    // Kept to be replayed on the owner's thread, where the operator is told.
    ftp.OnSuccess = [this](TCmdType kind) {
        if (notices)
            notices->append({Notice::Success, kind});
    };
    ftp.OnFailure = [this](bool &, TCmdType kind) {
        if (notices)
            notices->append({Notice::Failure, kind});
    };
    ftp.OnUnSupportedFunction = [this](TCmdType kind) {
        if (notices)
            notices->append({Notice::Unsupported, kind});
    };
}

void FtpSessionPool::Session::serve(TNMFTP &ftp)
{
    for (;;) {
        Job job;
        {
            QMutexLocker locked(&pool.mutex);
            while (pool.queue.empty() && !pool.closing && !pool.aborted && !pool.halted)
                pool.jobReady.wait(&pool.mutex);
            if (pool.queue.empty() || pool.aborted || pool.halted)
                return;
            job = std::move(pool.queue.front());
            pool.queue.pop_front();
            ++pool.busy;
        }
        Outcome outcome = send(ftp, job);
        const bool failed = outcome.kind != Outcome::Kind::Stored;
        {
            QMutexLocker locked(&pool.mutex);
            // The run ends at its first failed file, as with one session:
            // no session starts another after it.
            if (failed)
                pool.halted = true;
            pool.outcomes.push_back(std::move(outcome));
            --pool.busy;
        }
        if (failed)
            pool.jobReady.wakeAll();
        pool.wakeOwner();
    }
}

bool FtpSessionPool::Session::logIn(TNMFTP &ftp)
{
    FtpResult result = ftp.Connect();
    if (result.Succeeded())
        result = ftp.SetTransferType(TTransferType::Image);
    {
        QMutexLocker locked(&pool.mutex);
        if (result.Succeeded()) {
            ++pool.opened;
        } else {
            ++pool.refused;
            if (pool.refusal.isEmpty())
                pool.refusal = result.Text().trimmed();
        }
    }
    pool.wakeOwner();
    return result.Succeeded();
}

FtpSessionPool::Outcome FtpSessionPool::Session::send(TNMFTP &ftp, Job &job)
{
    Outcome outcome;
    outcome.ticket = job.ticket;
    QFile *file = job.open ? job.open() : nullptr;
    if (!file) {
        outcome.kind = Outcome::Kind::NotOpened;
        return outcome;
    }
    if (pool.aborted) {
        outcome.result = FtpResult::Failed(FtpResult::Failure::Aborted, QStringLiteral("Transfer aborted"));
        return outcome;
    }
    notices = &outcome.notices;
    sent = 0;
    outcome.result = ftp.Upload(*file, job.remotePath, [this](qint64 bytes) { sent = bytes; });
    notices = nullptr;
    sent = 0;
    outcome.unchanged = job.unchanged ? job.unchanged() : true;
    outcome.kind = outcome.result.Succeeded() ? Outcome::Kind::Stored : Outcome::Kind::Failed;
    return outcome;
}

FtpSessionPool::Settings FtpSessionPool::SettingsOf(const TNMFTP &engine)
{
    return Settings{engine.Host, engine.Port, engine.TimeOut, engine.UserID, engine.Password};
}

FtpSessionPool::FtpSessionPool(Settings settings, int count)
    : settings(std::move(settings))
{
    for (int i = 0; i < count; ++i)
        sessions.push_back(std::make_unique<Session>(*this));
    for (const std::unique_ptr<Session> &session : sessions)
        session->start();
}

FtpSessionPool::~FtpSessionPool()
{
    {
        QMutexLocker locked(&mutex);
        closing = true;
        queue.clear();
    }
    jobReady.wakeAll();
    for (const std::unique_ptr<Session> &session : sessions)
        session->wait();
}

int FtpSessionPool::awaitOpened(const std::function<bool()> &stopped)
{
    for (;;) {
        {
            QMutexLocker locked(&mutex);
            if (opened + refused == int(sessions.size()) || stopped())
                return opened;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

QString FtpSessionPool::firstRefusal() const
{
    QMutexLocker locked(&mutex);
    return refusal;
}

void FtpSessionPool::enqueue(std::vector<Job> jobs)
{
    {
        QMutexLocker locked(&mutex);
        for (Job &job : jobs)
            queue.push_back(std::move(job));
    }
    jobReady.wakeAll();
}

std::optional<FtpSessionPool::Job> FtpSessionPool::take()
{
    QMutexLocker locked(&mutex);
    if (queue.empty() || aborted || halted)
        return std::nullopt;
    Job job = std::move(queue.front());
    queue.pop_front();
    return job;
}

int FtpSessionPool::unfinished() const
{
    QMutexLocker locked(&mutex);
    return busy + int(outcomes.size());
}

std::optional<FtpSessionPool::Outcome> FtpSessionPool::next(bool wait, const std::function<bool()> &stopped)
{
    for (;;) {
        {
            QMutexLocker locked(&mutex);
            if (!outcomes.empty()) {
                Outcome outcome = std::move(outcomes.front());
                outcomes.pop_front();
                return outcome;
            }
            if (!wait || busy == 0)
                return std::nullopt;
        }
        if (stopped())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

QList<int> FtpSessionPool::dropQueued()
{
    QMutexLocker locked(&mutex);
    QList<int> tickets;
    for (const Job &job : queue)
        tickets << job.ticket;
    queue.clear();
    return tickets;
}

void FtpSessionPool::abort()
{
    {
        QMutexLocker locked(&mutex);
        aborted = true;
    }
    jobReady.wakeAll();
    for (const std::unique_ptr<Session> &session : sessions)
        session->abortTransfer();
}

qint64 FtpSessionPool::bytesInFlight() const
{
    qint64 total = 0;
    for (const std::unique_ptr<Session> &session : sessions)
        total += session->sent;
    return total;
}

void FtpSessionPool::wakeOwner()
{
    QMetaObject::invokeMethod(&owner, [] {}, Qt::QueuedConnection);
}

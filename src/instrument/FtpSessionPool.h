#pragma once

#include "ftp/FtpResult.h"
#include "ftp/FtpTypes.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QFile;
class TNMFTP;

// FTP sessions beside the link's own, so that several files travel at once.
//
// The FTP engine waits by turning its thread's event loop, so one thread
// can't wait on two transfers at a time without handlers running inside
// each other's waits. Each extra session is therefore a thread of its own
// that owns its engine from log-in to QUIT; the engines share nothing. The
// files wait in one queue, largest first, and a session takes the next as it
// comes free; the link's own session draws from it too (take()). What each
// session made of a file comes back to the owner's thread (next()), and only
// the owner's thread talks to the operator.
class FtpSessionPool
{
public:
    // How the link reaches its FTP server: every session logs in the same way.
    struct Settings
    {
        QString host;
        int port = 21;
        int timeOut = 60000;
        QString user;
        QString password;
    };
    [[nodiscard]] static Settings SettingsOf(const TNMFTP &engine);

    // One file to send. Both callables run on the session's thread: `open`
    // hands the open file (null: it must not go), `unchanged` says after
    // the send whether it is still the file that was meant to go.
    struct Job
    {
        int ticket = 0;
        qint64 size = 0;
        QString remotePath;
        std::function<QFile *()> open;
        std::function<bool()> unchanged;
    };

    // A notification the engine made during a send, for the owner to replay
    // through the link's handlers, in order.
    enum class Notice { Success, Failure, Unsupported };

    struct Outcome
    {
        enum class Kind { Stored, NotOpened, Failed };
        int ticket = 0;
        Kind kind = Kind::Failed;
        bool unchanged = true;
        FtpResult result; // with Failed: how the dialogue ended
        QList<std::pair<Notice, TCmdType>> notices;
    };

    // Starts `sessions` sessions, each connecting and logging in at once.
    FtpSessionPool(Settings settings, int sessions);
    // Sessions still open say QUIT unless the pool was aborted; then they
    // are only closed. Returns once every session's thread has ended.
    ~FtpSessionPool();
    FtpSessionPool(const FtpSessionPool &) = delete;
    FtpSessionPool &operator=(const FtpSessionPool &) = delete;

    // Waits, the owner's event loop turning, until every session has logged
    // in or failed to, or `stopped` says so; how many are open.
    int awaitOpened(const std::function<bool()> &stopped);
    // Why the first session that could not open was refused; empty when none was.
    [[nodiscard]] QString firstRefusal() const;

    // Queues files in the order given.
    void enqueue(std::vector<Job> jobs);
    // The next queued file, for the caller's own session; none once a
    // session's file has failed.
    [[nodiscard]] std::optional<Job> take();
    // Files taken by the pool's sessions whose outcome next() has not yet
    // handed back.
    [[nodiscard]] int unfinished() const;
    // The next outcome; with `wait`, waits for one while a session is
    // sending (the owner's event loop turning), until `stopped` says so.
    [[nodiscard]] std::optional<Outcome> next(bool wait, const std::function<bool()> &stopped);
    // Takes every queued file out, unsent; their tickets.
    QList<int> dropQueued();
    // Ends every session's transfer now; the sessions then close without QUIT.
    void abort();
    // The bytes the sessions have handed over of the files they are sending.
    [[nodiscard]] qint64 bytesInFlight() const;

private:
    class Session;
    friend class Session;

    // The owner's thread is woken for each outcome; its handler does nothing.
    void wakeOwner();

    Settings settings;
    mutable QMutex mutex;
    QWaitCondition jobReady;
    std::deque<Job> queue;
    std::deque<Outcome> outcomes;
    int busy = 0;
    int opened = 0;
    int refused = 0;
    QString refusal;
    bool closing = false;
    bool halted = false; // a file failed: nothing more is taken
    std::atomic<bool> aborted{false};
    QObject owner; // lives on the owner's thread; receives the wake-ups
    std::vector<std::unique_ptr<Session>> sessions;
};

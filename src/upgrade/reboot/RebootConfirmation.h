#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CommandProbe;

namespace upgrade {

// How the wait for an instrument's restart ended.
struct RebootResult
{
    enum class Verdict {
        Confirmed,       // it went away, came back as itself, and the checks passed
        NeverWentAway,   // still answering when the time was up
        NeverCameBack,   // went away and did not answer again in time
        OtherInstrument, // another identity answered after the restart
        ChecksFailed,    // itself again, but free space or NAME files are wrong
        Stopped,         // the operator stopped the wait
    };
    Verdict verdict = Verdict::Stopped;
    // "confirmed", or "not confirmed: " and what failed; what the run's
    // record keeps.
    QString text;
    QByteArray identity; // the "*IDN?" reply after the restart, when one came
    double seconds = 0;  // from the start of the wait to its end

    [[nodiscard]] bool confirmed() const { return verdict == Verdict::Confirmed; }
};

// Waits, after an upgrade, for the instrument to restart and checks that it
// came back with what the run left: the same instrument (manufacturer, model
// and serial of "*IDN?"), a free space it can report, and the NAME file of
// every module in its MID folder.
//
// The instrument has gone when the idle command-channel connection held to
// it closes, or a "*IDN?" on it goes unanswered: holding the connection
// means a restart quicker than the probes between still shows. It is back
// when a new connection is accepted and answers "*IDN?". Every wait is
// bounded; the whole of going away and coming back takes at most the
// timeout, and each later check at most one reply's time.
class RebootConfirmation
{
public:
    struct Settings
    {
        QString address;
        quint16 commandPort = 5000;
        int timeoutMs = 300000;
        // The "*IDN?" reply the run read before the restart.
        QByteArray identity;
        // The modules whose "/F0:/SYSTEM/MID<id>/NAME" the run made sure of.
        QList<qint32> moduleIds;
        // A "*IDN?" on the held connection this often, in case the
        // instrument vanishes without closing it (power cut, cable).
        int probeEveryMs = 2000;
        // Bound of one connect and of one reply.
        int replyTimeoutMs = 5000;
        // Pause between attempts to reach an instrument that is down.
        int retryEveryMs = 500;
    };

    // `waiting` is told the whole seconds waited so far, about once a second.
    RebootConfirmation(Settings settings, std::function<void(int seconds)> waiting);
    ~RebootConfirmation();
    RebootConfirmation(const RebootConfirmation &) = delete;
    RebootConfirmation &operator=(const RebootConfirmation &) = delete;

    [[nodiscard]] RebootResult run();
    // Ends the wait under way, or the checks, at their next turn of the
    // event loop; the result is Stopped.
    void requestStop();

private:
    [[nodiscard]] bool waitUntilGone();
    [[nodiscard]] bool waitUntilBack(QByteArray &identity);
    // What failed in the checks after the restart; empty when all passed.
    [[nodiscard]] QStringList checkDrive();
    void tick();
    [[nodiscard]] bool timeLeft() const;
    [[nodiscard]] int remainingMs() const;
    [[nodiscard]] RebootResult ended(RebootResult::Verdict verdict, const QString &what,
                                     const QByteArray &identity = {}) const;

    Settings settings;
    std::function<void(int)> waiting;
    std::unique_ptr<CommandProbe> probe;
    QElapsedTimer clock;
    int secondsTold = -1;
};

} // namespace upgrade

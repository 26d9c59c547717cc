#include "upgrade/reboot/RebootConfirmation.h"

#include "instrument/CatalogueReply.h"
#include "instrument/CommandProbe.h"
#include "instrument/InstrumentIdentity.h"
#include "platform/Exception.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/common/RunVocabulary.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/ProbeDriveSource.h"

#include <algorithm>

namespace upgrade {
namespace {

const QByteArray IdentityQuery = QByteArrayLiteral("*IDN?");

QByteArray catalogueQuery(const QString &folder)
{
    return "MMEM:CAT? \"" + folder.toUtf8() + '"';
}

} // namespace

RebootConfirmation::RebootConfirmation(Settings settings, std::function<void(int seconds)> waiting)
    : settings(std::move(settings))
    , waiting(std::move(waiting))
    , probe(std::make_unique<CommandProbe>(this->settings.address, this->settings.commandPort))
{
}

RebootConfirmation::~RebootConfirmation() = default;

void RebootConfirmation::requestStop()
{
    probe->stop();
}

int RebootConfirmation::remainingMs() const
{
    return int(std::max<qint64>(0, settings.timeoutMs - clock.elapsed()));
}

bool RebootConfirmation::timeLeft() const
{
    return remainingMs() > 0 && !probe->stopped();
}

void RebootConfirmation::tick()
{
    const int seconds = int(clock.elapsed() / 1000);
    if (seconds != secondsTold && waiting) {
        secondsTold = seconds;
        waiting(seconds);
    }
}

RebootResult RebootConfirmation::ended(RebootResult::Verdict verdict, const QString &what,
                                       const QByteArray &identity) const
{
    RebootResult result;
    result.verdict = probe->stopped() ? RebootResult::Verdict::Stopped : verdict;
    result.text = RestartText(result.verdict == RebootResult::Verdict::Confirmed ? RestartVerdict::Confirmed
                                                                                 : RestartVerdict::NotConfirmed,
                              probe->stopped() ? QStringLiteral("stopped while waiting") : what);
    result.identity = identity;
    result.seconds = double(clock.elapsed()) / 1000.0;
    return result;
}

RebootResult RebootConfirmation::run()
{
    using Verdict = RebootResult::Verdict;
    clock.start();
    tick();
    const QString bound = QStringLiteral("%1 s").arg(settings.timeoutMs / 1000.0, 0, 'g', 6);
    if (!waitUntilGone())
        return ended(Verdict::NeverWentAway, QStringLiteral("the instrument did not restart within ") + bound);
    QByteArray identity;
    if (!waitUntilBack(identity))
        return ended(Verdict::NeverCameBack, QStringLiteral("the instrument did not come back within ") + bound);

    if (!SameInstrument(settings.identity, settings.address, identity, settings.address)) {
        probe->close();
        return ended(Verdict::OtherInstrument,
                     QStringLiteral("another instrument answered after the restart: %1 (before: %2)")
                         .arg(InstrumentIdentity::FromReply(identity).text(),
                              InstrumentIdentity::FromReply(settings.identity).text()),
                     identity);
    }
    const QStringList failed = checkDrive();
    probe->close();
    if (!failed.isEmpty())
        return ended(Verdict::ChecksFailed, failed.join(QStringLiteral("; ")), identity);
    return ended(Verdict::Confirmed, QString(), identity);
}

bool RebootConfirmation::waitUntilGone()
{
    // A connection refused right away: the restart began before the wait did.
    if (!probe->open(std::min(settings.replyTimeoutMs, remainingMs())))
        return !probe->stopped();
    qint64 nextQuery = clock.elapsed() + settings.probeEveryMs;
    while (timeLeft()) {
        const int ms = int(std::min<qint64>({1000, remainingMs(), std::max<qint64>(1, nextQuery - clock.elapsed())}));
        if (!probe->staysOpen(ms))
            return !probe->stopped();
        tick();
        if (clock.elapsed() >= nextQuery && timeLeft()) {
            if (!probe->query(IdentityQuery, settings.replyTimeoutMs))
                return !probe->stopped();
            nextQuery = clock.elapsed() + settings.probeEveryMs;
        }
    }
    probe->close();
    return false;
}

bool RebootConfirmation::waitUntilBack(QByteArray &identity)
{
    while (timeLeft()) {
        tick();
        if (probe->open(std::min(settings.replyTimeoutMs, remainingMs()))) {
            // A port that accepts before the instrument's software answers
            // is not back yet.
            if (const std::optional<QByteArray> reply = probe->query(IdentityQuery, settings.replyTimeoutMs);
                reply && !reply->isEmpty()) {
                identity = *reply;
                return true;
            }
            probe->close();
        }
        probe->pause(std::min(settings.retryEveryMs, remainingMs()));
    }
    return false;
}

QStringList RebootConfirmation::checkDrive()
{
    QStringList failed;
    const std::optional<QByteArray> drive = probe->query(catalogueQuery(InstrumentRoot), settings.replyTimeoutMs);
    if (!drive) {
        failed << QStringLiteral("no reply to the free-space query");
        return failed; // the connection is gone: nothing more can be asked
    }
    try {
        (void)CatalogueReply::FreeSpace(*drive);
    } catch (const EConvertError &) {
        failed << QStringLiteral("the free space can't be read from \"%1\"").arg(QString::fromUtf8(drive->left(80)));
    }
    // What is on the drive is asked of a drive lookup over this connection:
    // the run made sure of each MID folder, so each is looked into at once.
    ProbeDriveSource source(*probe, settings.replyTimeoutMs);
    DriveLookup lookup(source);
    for (const qint32 id : std::as_const(settings.moduleIds)) {
        const QString folder = SystemFolder + QStringLiteral("/MID") + QString::number(id);
        lookup.made(folder);
        const DriveAnswer name = lookup.file(folder + QStringLiteral("/NAME"));
        if (name.state == DriveAnswer::State::Failed) {
            failed << name.why;
            break; // no reply: the connection is gone
        }
        if (name.state == DriveAnswer::State::Unknown)
            failed << name.why;
        else if (!name.present())
            failed << QStringLiteral("%1/NAME is missing").arg(folder);
    }
    return failed;
}

} // namespace upgrade

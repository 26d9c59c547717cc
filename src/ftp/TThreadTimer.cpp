#include "TThreadTimer.h"

#include "platform/Exception.h"
#include "platform/UserAction.h"

#include <QTimer>

#include <limits>

TThreadTimer::TThreadTimer(QObject *owner)
    : QObject(owner)
    , timer(new QTimer(this))
{
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &TThreadTimer::Tick);
}

TThreadTimer::~TThreadTimer()
{
    enabled = false;
    timer->stop();
}

void TThreadTimer::SetEnabled(bool value)
{
    if (value == enabled)
        return;
    enabled = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t milliseconds)
{
    if (milliseconds == interval)
        return;
    interval = milliseconds;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler)
{
    onTimer = std::move(handler);
    UpdateTimer();
}

bool TThreadTimer::IsRunning() const
{
    return timer->isActive();
}

void TThreadTimer::UpdateTimer()
{
    timer->stop();
    if (interval == 0 || !enabled || !onTimer)
        return;
    // The platform timer counts in a signed int of milliseconds.
    if (interval > std::uint32_t(std::numeric_limits<int>::max()))
        throw Exception(QStringLiteral("No Timer"));
    timer->start(int(interval));
}

void TThreadTimer::Tick()
{
    if (!onTimer)
        return;
    // An exception must not cross the event loop; like any unhandled error of
    // the program it is shown to the operator, and the timer keeps running.
    const TNotifyEvent handler = onTimer; // the handler may replace itself
    platform::RunUserAction([this, &handler] { handler(this); });
}

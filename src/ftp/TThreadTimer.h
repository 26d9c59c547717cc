#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

class QTimer;

// The time-out clock of one socket component: a repeating timer that runs
// only while it is enabled, has a non-zero interval and someone to call.
// Changing any of the three re-arms it; setting a property to the value it
// already has does nothing, so a running timer is not restarted by accident.
class TThreadTimer : public QObject
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject *Sender)>;

    explicit TThreadTimer(QObject *owner);
    ~TThreadTimer() override;

    [[nodiscard]] bool Enabled() const { return enabled; }
    void SetEnabled(bool value);
    [[nodiscard]] std::uint32_t Interval() const { return interval; }
    void SetInterval(std::uint32_t milliseconds);
    [[nodiscard]] const TNotifyEvent &OnTimer() const { return onTimer; }
    void SetOnTimer(TNotifyEvent handler);

    // True while the platform timer is counting.
    [[nodiscard]] bool IsRunning() const;

private:
    void UpdateTimer();
    void Tick();

    bool enabled = true;
    std::uint32_t interval = 1000;
    TNotifyEvent onTimer;
    QTimer *timer = nullptr; // child
};

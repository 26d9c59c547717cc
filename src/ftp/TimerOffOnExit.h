#pragma once

#include "TPowersock.h"

#include <QPointer>

// Stops a component's time-out however a wait ends, unless a handler deleted
// the component meanwhile.
struct TimerOffOnExit
{
    QPointer<TPowersock> component;
    ~TimerOffOnExit()
    {
        if (component)
            component->TimerOff();
    }
};

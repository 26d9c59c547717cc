#pragma once

#include "upgrade/kit/DigestCache.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/common/ModuleEntry.h"

#include <QList>
#include <QString>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace upgrade {

// The kit's pre-flight read on a thread of its own, started before the run
// connects: a kit's first run digests every byte, and that can go on while
// the run waits for the instrument. The thread touches nothing but its own
// copies (the program folder, the catalogue's modules with their ticks, the
// digest cache it loads and saves); the run takes the result once, after
// the thread has ended, and only then uses it. Nothing about the rule of
// the run changes: it still writes nothing before it holds a plan of every
// file read and has checked the signature on it.
class KitCheckAhead
{
public:
    // `historyFile` empty: no digest cache.
    KitCheckAhead(QString programFolder, const ModuleList &modules, QString historyFile);
    // Stops the walk at its next entry and waits for the thread.
    ~KitCheckAhead();
    KitCheckAhead(const KitCheckAhead &) = delete;
    KitCheckAhead &operator=(const KitCheckAhead &) = delete;

    // Waits for the thread and hands over the plan it made for `modules`.
    // When the ticks have changed since it started (a Yes to the low-space
    // question ticks boxes), the kit is checked again here, with the
    // digests the thread has just learnt. Call once. Raises what the check
    // raised.
    [[nodiscard]] KitPlan take(const ModuleList &modules);

private:
    void check();
    void checkKit();
    [[nodiscard]] static QList<bool> ticksOf(const ModuleList &modules);

    QString programFolder;
    ModuleList modules; // a copy: the catalogue's entries stay the run's
    QString historyFile;
    std::unique_ptr<DigestCache> cache;
    KitPlan plan;
    // What the thread raised (a failing digest, no memory): raised again by take.
    std::exception_ptr failure;
    std::atomic<bool> cancel{false};
    std::thread worker;
};

} // namespace upgrade

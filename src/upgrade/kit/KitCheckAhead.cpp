#include "upgrade/kit/KitCheckAhead.h"

namespace upgrade {

KitCheckAhead::KitCheckAhead(QString folder, const ModuleList &catalogue, QString history)
    : programFolder(std::move(folder))
    , historyFile(std::move(history))
{
    // Copies of Qt's strings and lists may go to another thread (their
    // sharing counts atomically); the entries themselves are the run's.
    for (const auto &entry : catalogue)
        modules.push_back(std::make_unique<ModuleEntry>(*entry));
    worker = std::thread([this] { check(); });
}

KitCheckAhead::~KitCheckAhead()
{
    cancel = true;
    if (worker.joinable())
        worker.join();
}

void KitCheckAhead::check()
{
    // Nothing may leave a thread's function but by returning.
    try {
        checkKit();
    } catch (...) {
        failure = std::current_exception();
    }
}

void KitCheckAhead::checkKit()
{
    // The digest cache only saves reading an unchanged kit again: one that
    // can't be read or written costs time, never the run.
    if (!historyFile.isEmpty()) {
        cache = std::make_unique<DigestCache>(DigestCache::BesideHistory(historyFile));
        cache->load();
    }
    plan = CheckKit(programFolder, modules, cache.get(), &cancel);
    // Saved every run, also when nothing new was read: it counts the runs
    // that used each entry, so that a kit out of use leaves it.
    if (cache && !cancel)
        static_cast<void>(cache->save());
}

QList<bool> KitCheckAhead::ticksOf(const ModuleList &list)
{
    QList<bool> ticks;
    for (const auto &entry : list)
        ticks.append(entry->hasSignal);
    return ticks;
}

KitPlan KitCheckAhead::take(const ModuleList &catalogue)
{
    if (worker.joinable())
        worker.join();
    if (failure)
        std::rethrow_exception(failure);
    if (ticksOf(catalogue) != ticksOf(modules)) {
        plan = CheckKit(programFolder, catalogue, cache.get());
        if (cache)
            static_cast<void>(cache->save());
    }
    return std::move(plan);
}

} // namespace upgrade

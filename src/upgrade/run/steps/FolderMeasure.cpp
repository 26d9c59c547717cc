#include "upgrade/run/UpgradeRun.h"

#include "upgrade/kit/LocalTreeWalker.h"

namespace upgrade {

// Measuring applies no rule by name: a SIGNAL folder that will not be copied
// and a module folder that no catalogue entry names still count, so the bar
// may stop short of 100 until the run sets it to the maximum.
qint64 UpgradeRun::MeasureFolder(const QString &folder)
{
    LocalTreeWalker walker([this](const WalkItem &item) {
        if (!item.entry.isFolder()) {
            ++fileCount;
            totalBytes += item.entry.size;
        }
        return WalkStep::Go;
    }, [this](const WalkFailure &failure) {
        // Counting it as empty would let the run report success without its files.
        reportUnlistedFolder(failure);
        return WalkStep::Go;
    });
    // Neither handler stops the walk.
    static_cast<void>(walker.walk(folder));
    return fileCount;
}

} // namespace upgrade

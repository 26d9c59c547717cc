#include "upgrade/kit/KitPreflight.h"

#include "instrument/InstrumentName.h"
#include "platform/LocalFolder.h"
#include "platform/Sha256.h"
#include "upgrade/kit/DigestCache.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/kit/LocalTreeWalker.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <climits>
#include <functional>
#include <utility>

namespace upgrade {
namespace {

const QString UnsafeName = QStringLiteral("Name not accepted by VX900 (double quote or control character)");

// Whether a file last written at `stamp`'s times was written long enough
// before now for its stamp to tell a later write apart.
bool settled(const FileStamp &stamp)
{
    return stamp.ageNs() >= DigestCache::DefaultSettleNs;
}

class KitWalk
{
public:
    KitWalk(KitPlan &plan, DigestCache *cache, const std::atomic<bool> *cancel = nullptr)
        : plan(plan)
        , cache(cache)
        , cancel(cancel)
    {
    }

    [[nodiscard]] bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    // Walks one tree the way the copy does. `signalOwner` is the module
    // whose SIGNAL rule applies at the top; null for the system files.
    void walk(const QString &localRoot, const QString &instrumentRoot, int module, const ModuleEntry *signalOwner)
    {
        moduleRoot = platform::ResolveLocalPath(localRoot).value_or(localRoot);
        LocalTreeWalker walker(
            [&](const WalkItem &item) { return visit(item, instrumentRoot, module, signalOwner); },
            [&](const WalkFailure &failure) {
                problem(failure.localPath, QStringLiteral("Folder can't be listed"), failure.reason);
                return WalkStep::Go; // its siblings may hold more problems
            });
        // Neither handler stops the walk.
        static_cast<void>(walker.walk(localRoot));
    }

    // `listed`: a step of the copy's list; a late file is sent where the copy met it.
    void addFile(const QString &localPath, const QString &instrumentPath, int module, bool listed = true)
    {
        QFile file(localPath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            problem(localPath, QStringLiteral("File can't be read"), file.errorString());
            return;
        }
        const std::optional<FileStamp> stamp = FileStamp::of(file);
        if (!stamp) {
            problem(localPath, QStringLiteral("File can't be read"), QStringLiteral("its status can't be read"));
            return;
        }
        PlannedFile planned{localPath, instrumentPath, 0, {}, module, *stamp, false};
        if (const std::optional<QByteArray> known = cache ? cache->find(localPath, *stamp) : std::nullopt) {
            planned.size = stamp->size;
            planned.sha256 = *known;
            ++plan.digestsFromCache;
        } else {
            const platform::Sha256::FileRead read = hash.addFile(file);
            if (!read.ok()) {
                problem(localPath, QStringLiteral("File can't be read"), read.error);
                return;
            }
            planned.size = read.bytes;
            planned.sha256 = hash.result();
            plan.bytesDigested += planned.size;
            // A file that changed while it was read gives a stamp that no
            // longer matches it: neither the cache nor the send may take
            // that stamp for these bytes.
            if (FileStamp::of(file) != stamp || stamp->size != planned.size) {
                problem(localPath, QStringLiteral("File changed while it was read"));
                return;
            }
            if (cache)
                cache->remember(localPath, *stamp, planned.sha256);
        }
        planned.stampSettled = settled(*stamp);
        plan.totalBytes += planned.size;
        plan.fileIndex.insert(localPath, plan.files.size());
        if (listed)
            addStep(KitStep::Kind::File, plan.files.size());
        plan.files.append(std::move(planned));
    }

    void addFolder(PlannedFolder folder)
    {
        addStep(KitStep::Kind::Folder, plan.folders.size());
        plan.folders.append(std::move(folder));
    }

    // Counts the files below `target` that no module's walk met: loose
    // files and folders no catalogue entry names. `moduleRoots` are the
    // module folders, already walked.
    void countRestOfTarget(const QString &target, const QSet<QString> &moduleRoots)
    {
        countOutside(target, QString(), [&](const WalkItem &item) {
            if (item.depth != 0)
                return false;
            topOrder.insert(item.localPath, int(topOrder.size()));
            return item.entry.isFolder() && moduleRoots.contains(item.localPath);
        });
    }

    // The folders outside the plan that can't be listed, in the order of
    // the entries of "target" they lie in, as a walk of it meets them.
    void finishOutside()
    {
        std::stable_sort(outside.begin(), outside.end(), [this](const auto &a, const auto &b) {
            return topOrder.value(a.first, INT_MAX) < topOrder.value(b.first, INT_MAX);
        });
        for (auto &[_, unlisted] : outside)
            plan.unlistedOutsidePlan.append(std::move(unlisted));
    }

    void problem(const QString &path, const QString &what, const QString &detail = QString())
    {
        plan.problems.append(KitProblem{path, what, detail});
    }

private:
    WalkStep visit(const WalkItem &item, const QString &instrumentRoot, int module, const ModuleEntry *signalOwner)
    {
        if (cancelled())
            return WalkStep::Stop;
        const QString &name = item.entry.name;
        const QString parent =
            item.parentRelative.isEmpty() ? instrumentRoot : instrumentRoot + QLatin1Char('/') + item.parentRelative;

        if (item.entry.isFolder()) {
            const bool moduleSignal = signalOwner && item.depth == 0 && name == SignalFolder;
            if (moduleSignal && !signalOwner->hasSignal) {
                addStep(KitStep::Kind::UntickedSignal, plan.untickedSignals.size());
                plan.untickedSignals.append(PlannedFolder{parent, name, item.localPath, module, true});
                countOutside(item.localPath, moduleRoot);
                return WalkStep::Skip;
            }
            // What lies below a bad folder would only repeat its problem.
            if (!instrument::FitsCommandLine(name)) {
                problem(item.localPath, UnsafeName);
                return WalkStep::Skip;
            }
            if (item.loopsBack) {
                problem(item.localPath, QStringLiteral("Folder leads back into itself"));
                return WalkStep::Skip;
            }
            addFolder(PlannedFolder{parent, name, item.localPath, module, moduleSignal});
            return WalkStep::Go;
        }

        ++(module >= 0 ? plan.moduleTreeFiles : plan.systemTreeFiles);
        if (!instrument::FitsCommandLine(name)) {
            problem(item.localPath, UnsafeName);
            return WalkStep::Go;
        }
        if (!item.entry.isRegularFile()) {
            // A pipe or a device would block the upload or never end it.
            const QFileInfo info(item.localPath);
            if (info.isSymLink() && !info.exists())
                problem(item.localPath, QStringLiteral("Link leads nowhere"));
            else
                problem(item.localPath, QStringLiteral("Not a regular file (pipe, device or socket)"));
            return WalkStep::Go;
        }
        addFile(item.localPath, parent + QLatin1Char('/') + name, module);
        return WalkStep::Go;
    }

    void addStep(KitStep::Kind kind, qsizetype index) { plan.steps.append(KitStep{kind, index}); }

    // Counts the files below `root`, which the plan leaves out; `key` is the
    // entry of "target" it lies in (empty: the one each failure lies in).
    void countOutside(const QString &root, const QString &key, const std::function<bool(const WalkItem &)> &skip = {})
    {
        LocalTreeWalker walker(
            [&](const WalkItem &item) {
                if (cancelled())
                    return WalkStep::Stop;
                if (skip && skip(item))
                    return WalkStep::Skip;
                if (!item.entry.isFolder())
                    ++plan.moduleTreeFiles;
                return WalkStep::Go;
            },
            [&](const WalkFailure &failure) {
                // "target" itself is a problem of the kit already; an unticked
                // SIGNAL folder is a folder of it like any other.
                if (failure.depth < 0 && key.isEmpty())
                    return WalkStep::Go;
                const QString top = !key.isEmpty()      ? key
                                    : failure.depth == 0 ? failure.localPath
                                                         : platform::JoinLocalPath(root, failure.parentRelative.section(QLatin1Char('/'), 0, 0));
                outside.append({top, KitProblem{failure.localPath, QStringLiteral("Folder can't be listed"), failure.reason}});
                return WalkStep::Go;
            });
        // Neither handler stops the walk.
        static_cast<void>(walker.walk(root));
    }

    KitPlan &plan;
    DigestCache *cache;
    const std::atomic<bool> *cancel;
    platform::Sha256 hash;
    QString moduleRoot; // the module folder being walked, as the walk of "target" names it
    QList<std::pair<QString, KitProblem>> outside; // with the entry of "target" each lies in
    QHash<QString, int> topOrder;                  // the entries of "target", in the order it lists them
};

} // namespace

QString PlannedFolder::instrumentPath() const
{
    // A module root is made in "/F0:/", which already ends in its slash.
    return parent.endsWith(QLatin1Char('/')) ? parent + name : parent + QLatin1Char('/') + name;
}

QString KitProblem::text() const
{
    QString line = what + QStringLiteral(": ") + instrument::PrintablePath(localPath);
    if (!detail.isEmpty())
        line += QStringLiteral(" (") + detail + QLatin1Char(')');
    return line;
}

QByteArray KitPlan::kitDigest() const
{
    QList<QByteArray> lines;
    lines.reserve(files.size());
    for (const PlannedFile &file : files) {
        QString place = file.instrumentPath;
        if (place.startsWith(InstrumentRoot))
            place.remove(0, InstrumentRoot.size());
        while (place.startsWith(QLatin1Char('/')))
            place.remove(0, 1);
        lines.append(place.toUtf8() + '\n' + QByteArray::number(file.size) + '\n' + file.sha256.toHex() + '\n');
    }
    std::sort(lines.begin(), lines.end());
    platform::Sha256 hash;
    for (const QByteArray &line : std::as_const(lines))
        hash.add(line);
    return hash.result().toHex();
}

const PlannedFile *KitPlan::file(const QString &localPath) const
{
    const auto it = fileIndex.constFind(localPath);
    return it == fileIndex.cend() ? nullptr : &files[*it];
}

KitPlan CheckKit(const QString &programFolder, const ModuleList &modules, DigestCache *cache,
                 const std::atomic<bool> *cancel)
{
    KitPlan plan;
    plan.kitFolder = programFolder;
    KitWalk walk(plan, cache, cancel);

    for (const auto &entry : modules) {
        const QString folder = SystemFolder + QStringLiteral("/MID") + QString::number(entry->id);
        plan.nameFiles.append(PlannedNameFile{entry->id, entry->name, folder, true});
    }

    const QString targetPath = platform::JoinLocalPath(programFolder, LocalModuleRoot);
    const QString target = platform::ResolveLocalPath(targetPath).value_or(targetPath);
    // The module folders are found in it without regard to case: a "target"
    // that can't be listed could hide a module's files as a missing folder.
    if (const platform::FolderListing listing(target); listing.failed())
        walk.problem(target, QStringLiteral("Folder can't be listed"), listing.errorString());
    QSet<QString> moduleRoots;
    for (std::size_t i = 0; i < modules.size() && !walk.cancelled(); ++i) {
        const ModuleEntry &entry = *modules[i];
        const QString localRoot = entry.name.isEmpty() ? target : platform::JoinLocalPath(target, entry.name);
        if (!instrument::FitsCommandLine(entry.name)) {
            walk.problem(localRoot, UnsafeName);
            continue;
        }
        walk.addFolder(PlannedFolder{InstrumentRoot, entry.name, localRoot, int(i)});
        walk.walk(localRoot, InstrumentRoot + entry.name, int(i), &entry);
        moduleRoots.insert(platform::ResolveLocalPath(localRoot).value_or(localRoot));
    }
    // A module named "" is "target" itself, walked whole already.
    if (!moduleRoots.contains(target) && !walk.cancelled())
        walk.countRestOfTarget(target, moduleRoots);
    walk.finishOutside();

    const QString systemPath = platform::JoinLocalPath(programFolder, LocalSystemFiles);
    walk.walk(platform::ResolveLocalPath(systemPath).value_or(systemPath), SystemFolder, -1, nullptr);
    return plan;
}

const PlannedFile *PlanLateFile(KitPlan &plan, const QString &localPath, const QString &instrumentPath)
{
    const qsizetype before = plan.files.size();
    KitWalk(plan, nullptr).addFile(localPath, instrumentPath, -1, false);
    return plan.files.size() > before ? &plan.files.constLast() : nullptr;
}

} // namespace upgrade

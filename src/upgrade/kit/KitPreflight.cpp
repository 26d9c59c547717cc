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

#include <algorithm>
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
        LocalTreeWalker walker(
            [&](const WalkItem &item) { return visit(item, instrumentRoot, module, signalOwner); },
            [&](const WalkFailure &failure) {
                problem(failure.localPath, QStringLiteral("Folder can't be listed"), failure.reason);
                return WalkStep::Go; // its siblings may hold more problems
            });
        // Neither handler stops the walk.
        static_cast<void>(walker.walk(localRoot));
    }

    void addFile(const QString &localPath, const QString &instrumentPath, int module)
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
        plan.files.append(std::move(planned));
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
            if (signalOwner && item.depth == 0 && name == SignalFolder && !signalOwner->hasSignal)
                return WalkStep::Skip;
            // What lies below a bad folder would only repeat its problem.
            if (!instrument::FitsCommandLine(name)) {
                problem(item.localPath, UnsafeName);
                return WalkStep::Skip;
            }
            if (item.loopsBack) {
                problem(item.localPath, QStringLiteral("Folder leads back into itself"));
                return WalkStep::Skip;
            }
            plan.folders.append(PlannedFolder{parent, name, item.localPath, module});
            return WalkStep::Go;
        }

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

    KitPlan &plan;
    DigestCache *cache;
    const std::atomic<bool> *cancel;
    platform::Sha256 hash;
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
    for (std::size_t i = 0; i < modules.size() && !walk.cancelled(); ++i) {
        const ModuleEntry &entry = *modules[i];
        const QString localRoot = entry.name.isEmpty() ? target : platform::JoinLocalPath(target, entry.name);
        if (!instrument::FitsCommandLine(entry.name)) {
            walk.problem(localRoot, UnsafeName);
            continue;
        }
        plan.folders.append(PlannedFolder{InstrumentRoot, entry.name, localRoot, int(i)});
        walk.walk(localRoot, InstrumentRoot + entry.name, int(i), &entry);
    }

    const QString systemPath = platform::JoinLocalPath(programFolder, LocalSystemFiles);
    walk.walk(platform::ResolveLocalPath(systemPath).value_or(systemPath), SystemFolder, -1, nullptr);
    return plan;
}

const PlannedFile *PlanLateFile(KitPlan &plan, const QString &localPath, const QString &instrumentPath)
{
    const qsizetype before = plan.files.size();
    KitWalk(plan, nullptr).addFile(localPath, instrumentPath, -1);
    return plan.files.size() > before ? &plan.files.constLast() : nullptr;
}

} // namespace upgrade

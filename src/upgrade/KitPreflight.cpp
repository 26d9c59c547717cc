#include "upgrade/KitPreflight.h"

#include "instrument/InstrumentName.h"
#include "platform/LocalFolder.h"
#include "upgrade/DigestCache.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/LocalTreeWalker.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace upgrade {
namespace {

const QString UnsafeName = QStringLiteral("Name not accepted by VX900 (double quote or control character)");

// Big enough that the hash, not the calls, sets the pace; small enough to
// keep the walk's memory flat whatever the file's size.
constexpr qint64 ReadChunk = 1 << 20;

class KitWalk
{
public:
    KitWalk(KitPlan &plan, DigestCache *cache)
        : plan(plan)
        , cache(cache)
    {
    }

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

    void problem(const QString &path, const QString &what, const QString &detail = QString())
    {
        plan.problems.append(KitProblem{path, what, detail});
    }

private:
    WalkStep visit(const WalkItem &item, const QString &instrumentRoot, int module, const ModuleEntry *signalOwner)
    {
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

    void addFile(const QString &localPath, const QString &instrumentPath, int module)
    {
        QFile file(localPath);
        if (!file.open(QIODevice::ReadOnly)) {
            problem(localPath, QStringLiteral("File can't be read"), file.errorString());
            return;
        }
        PlannedFile planned{localPath, instrumentPath, 0, {}, module};
        const std::optional<FileStamp> stamp = FileStamp::of(file);
        std::optional<QByteArray> known;
        if (cache && stamp)
            known = cache->find(localPath, *stamp);
        if (known) {
            planned.size = stamp->size;
            planned.sha256 = *known;
            ++plan.digestsFromCache;
        } else {
            QCryptographicHash hash(QCryptographicHash::Sha256);
            QByteArray chunk;
            for (;;) {
                chunk = file.read(ReadChunk);
                if (chunk.isEmpty())
                    break;
                hash.addData(chunk);
                planned.size += chunk.size();
            }
            // read() gives nothing both at the end and on an error.
            if (file.error() != QFileDevice::NoError) {
                problem(localPath, QStringLiteral("File can't be read"), file.errorString());
                return;
            }
            planned.sha256 = hash.result();
            plan.bytesDigested += planned.size;
            // A file that changed while it was read gives a stamp that no
            // longer matches it; caching that pair would vouch for bytes
            // that were never read.
            const std::optional<FileStamp> after = FileStamp::of(file);
            if (cache && stamp && after == stamp && stamp->size == planned.size)
                cache->remember(localPath, *stamp, planned.sha256);
        }
        plan.totalBytes += planned.size;
        plan.files.append(std::move(planned));
    }

    KitPlan &plan;
    DigestCache *cache;
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
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArray &line : std::as_const(lines))
        hash.addData(line);
    return hash.result().toHex();
}

KitPlan CheckKit(const QString &programFolder, const ModuleList &modules, DigestCache *cache)
{
    KitPlan plan;
    plan.kitFolder = programFolder;
    KitWalk walk(plan, cache);

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
    for (std::size_t i = 0; i < modules.size(); ++i) {
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

} // namespace upgrade

// --backup: before the first write, the instrument files the run replaces
// with other content (or removes) are fetched into a snapshot beside the
// history, with a manifest that also names the files the run creates.
#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/Snapshot.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>

namespace upgrade {

using instrument::PrintablePath;

namespace {

QString bytesText(qint64 bytes)
{
    return QLocale::c().toString(bytes);
}

// A file's size as the drive tells it, -1 when it is absent; nothing, with
// `why`, when the drive can't tell, or holds a folder there. A snapshot
// must know the size: the download is checked against it.
std::optional<qint64> sizeOnDrive(DriveLookup &drive, const QString &path, QString &why)
{
    const DriveAnswer found = drive.file(path);
    switch (found.state) {
    case DriveAnswer::State::Present:
        return found.size;
    case DriveAnswer::State::Absent:
        // The file lookup calls a folder in a file's place absent; the
        // folder lookup answers from the same listing, with no new request.
        if (drive.folder(path).state != DriveAnswer::State::Present)
            return -1;
        why = QStringLiteral("%1 is a folder on the instrument").arg(PrintablePath(path));
        return std::nullopt;
    case DriveAnswer::State::SizeUnknown:
        why = QStringLiteral("nothing tells the size of %1 on the instrument").arg(PrintablePath(path));
        return std::nullopt;
    case DriveAnswer::State::Unknown:
    case DriveAnswer::State::Failed:
        break;
    }
    why = QStringLiteral("what the instrument holds at %1 can't be told (%2)")
              .arg(PrintablePath(path), found.why.isEmpty() ? QStringLiteral("no answer") : found.why);
    return std::nullopt;
}

} // namespace

UpgradeRun::StepEnd UpgradeRun::snapshotStep()
{
    if (!backup)
        return std::nullopt;
    enter(RunStep::Snapshot);
    const auto failSnapshot = [this](const QString &why) {
        return failAndClose(QStringLiteral("The snapshot could not be taken: %1. Nothing was written.").arg(why));
    };
    if (historyFile.isEmpty())
        return failSnapshot(QStringLiteral("there is no history to keep it beside"));

    const QString identity = QString::fromLatin1(link.IdentityReply).trimmed();
    SnapshotManifest manifest;
    manifest.instrumentKey = InstrumentKey(identity, runAddress);
    manifest.identity = identity;
    manifest.address = runAddress;
    manifest.runStarted = runRecord.started;
    QList<SnapshotFile> toFetch;
    if (const std::optional<QString> why = planSnapshot(manifest, toFetch))
        return failSnapshot(*why);
    if (toFetch.isEmpty() && manifest.created.isEmpty() && manifest.createdFolders.isEmpty()) {
        memo(QStringLiteral("Snapshot: the run replaces nothing on the instrument, so none was taken."));
        return std::nullopt;
    }
    const SnapshotStore store(historyFile);
    const QString folder = store.folderFor(manifest.instrumentKey, manifest.runStarted);
    if (const std::optional<QString> why = fetchSnapshot(folder, manifest, toFetch))
        return failSnapshot(*why);
    runRecord.snapshot = folder;
    memo(QStringLiteral("Snapshot: %1 file(s) (%2 bytes) the run replaces, and %3 file(s) it creates, kept in %4")
             .arg(manifest.replaced.size())
             .arg(bytesText(manifest.bytes()))
             .arg(manifest.created.size())
             .arg(PrintablePath(folder)));
    const QStringList pruned = store.prune(keepSnapshots, snapshotBytesLimit, folder);
    if (!pruned.isEmpty())
        memo(QStringLiteral("Snapshots: %1 older one(s) removed (at most %2 per instrument, %3 bytes in all).")
                 .arg(pruned.size())
                 .arg(keepSnapshots)
                 .arg(bytesText(snapshotBytesLimit)));
    return std::nullopt;
}

std::optional<QString> UpgradeRun::planSnapshot(SnapshotManifest &manifest, QList<SnapshotFile> &toFetch)
{
    // A file the run sends is kept unless the drive holds it at the kit's
    // size and the record shows this very content verified there.
    const SendIndex index(historyFile);
    QString why;
    for (const PlannedFile &file : std::as_const(kitPlan.files)) {
        const std::optional<qint64> size = sizeOnDrive(*drive, file.instrumentPath, why);
        throwIfStopRequested();
        if (!size)
            return why;
        if (*size < 0) {
            manifest.created << file.instrumentPath;
            continue;
        }
        const std::optional<VerifiedSend> last = index.lastVerified(manifest.instrumentKey, file.instrumentPath);
        const bool sameContent = *size == file.size && last && last->size == file.size
                                 && last->sha256Hex == file.sha256.toHex();
        if (!sameContent)
            toFetch.append(SnapshotFile{file.instrumentPath, *size, {}, {}});
    }
    // The folders the run will make: a restore removes them again when the
    // run's files were all that came into them. A folder the drive can't
    // tell of is left out, so never removed.
    for (const PlannedFolder &folder : std::as_const(kitPlan.folders)) {
        const QString path = folder.instrumentPath();
        const DriveAnswer there = drive->folder(path);
        throwIfStopRequested();
        if (there.state == DriveAnswer::State::Absent && !manifest.createdFolders.contains(path))
            manifest.createdFolders << path;
    }
    std::stable_sort(manifest.createdFolders.begin(), manifest.createdFolders.end(),
                     [](const QString &a, const QString &b) { return a.count(u'/') < b.count(u'/'); });
    // What the run will remove goes into the snapshot too, so that a
    // restore brings it back.
    for (const QString &path : std::as_const(dropped)) {
        const std::optional<qint64> size = sizeOnDrive(*drive, path, why);
        throwIfStopRequested();
        if (!size)
            return why;
        if (*size >= 0)
            toFetch.append(SnapshotFile{path, *size, {}, {}});
    }
    return std::nullopt;
}

std::optional<QString> UpgradeRun::fetchSnapshot(const QString &folder, SnapshotManifest &manifest,
                                                 const QList<SnapshotFile> &toFetch)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("its folder can't be made: ") + folder;
    // A folder without its manifest never counts, but is not left behind.
    bool completed = false;
    const auto removeUnfinished = qScopeGuard([&] {
        if (!completed)
            QDir(folder).removeRecursively();
    });
    link.SetTransferType(TTransferType::Image);
    for (SnapshotFile kept : toFetch) {
        kept.stored = QString::number(manifest.replaced.size() + 1);
        QFile local(QDir(folder).filePath(kept.stored));
        if (!local.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QStringLiteral("%1 can't be written (%2)").arg(local.fileName(), local.errorString());
        memo(QStringLiteral("Keeping... ") + PrintablePath(kept.instrumentPath));
        const TDownloadReply reply = link.DownloadFile(kept.instrumentPath, kept.size, local);
        throwIfStopRequested();
        if (reply.kind != TDownloadReply::Kind::Fetched)
            return QStringLiteral("%1: %2").arg(PrintablePath(kept.instrumentPath), reply.problem);
        if (!local.flush())
            return QStringLiteral("%1 can't be written (%2)").arg(local.fileName(), local.errorString());
        kept.sha256Hex = reply.sha256.toHex();
        manifest.replaced.append(kept);
    }
    if (const std::optional<QString> error = SnapshotStore(historyFile).complete(folder, manifest))
        return QStringLiteral("its manifest can't be written (%1)").arg(*error);
    completed = true;
    return std::nullopt;
}

} // namespace upgrade

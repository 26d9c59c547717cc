// --restore: a snapshot found, checked whole, and put back; then the files
// its run created are removed.
#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "platform/Sha256.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DrivePath.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/record/HistoryFile.h"
#include "upgrade/record/HistoryReader.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/run/Snapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace upgrade {

using instrument::PrintablePath;

namespace {

// The snapshot's copy of one file, read and checked against its manifest;
// nothing when it is missing or damaged.
std::optional<PlannedFile> checkedCopy(const QString &folder, const SnapshotFile &kept)
{
    PlannedFile file;
    file.localPath = QDir(folder).filePath(kept.stored);
    file.instrumentPath = kept.instrumentPath;
    // Only a plain file of the snapshot's own: a link would send whatever it names.
    if (!QFileInfo(file.localPath).isFile() || QFileInfo(file.localPath).isSymLink())
        return std::nullopt;
    QFile local(file.localPath);
    platform::Sha256 digest;
    const bool read = local.open(QIODevice::ReadOnly) && digest.addFile(local).ok();
    const std::optional<FileStamp> stamp = FileStamp::of(local);
    file.sha256 = digest.result();
    if (!read || !stamp || stamp->size != kept.size || file.sha256.toHex() != kept.sha256Hex)
        return std::nullopt;
    file.size = kept.size;
    file.stamp = *stamp;
    file.stampSettled = true; // its bytes were just checked
    return file;
}

// The files the run that took the snapshot wrote to (a failed upload too:
// it may have left part of its file), as its record shows; nothing when no
// record names the snapshot.
// The snapshot's instrument and run folders: a history moved with its
// snapshots still names them.
QString snapshotName(const QString &folder)
{
    const QFileInfo run(folder);
    return QFileInfo(run.absolutePath()).fileName() + QLatin1Char('/') + run.fileName();
}

std::optional<QSet<QString>> filesWrittenBy(const QString &historyFile, const QString &folder, const QString &address)
{
    std::optional<QSet<QString>> written;
    const QString wanted = snapshotName(folder);
    const HistoryVisit visit =
        HistoryReader(historyFile, HistoryLimits().keptFiles).walk(true, address, [&](VisitedRecord &&visited) {
            if (visited.record.snapshot.isEmpty() || snapshotName(visited.record.snapshot) != wanted)
                return true;
            written.emplace();
            for (const RecordedFile &file : visited.files()) {
                if (file.outcome == FileOutcome::SentVerified || file.outcome == FileOutcome::SentNotVerifiable
                    || file.outcome == FileOutcome::Failed)
                    written->insert(file.instrumentPath);
            }
            return false;
        });
    // A history that can't be read names no record either.
    return visit.error ? std::nullopt : written;
}

} // namespace

UpgradeRun::StepEnd UpgradeRun::restoreStep()
{
    enter(RunStep::Restore);
    const QString key = InstrumentKey(QString::fromLatin1(link.IdentityReply).trimmed(), runAddress);
    const SnapshotStore store(historyFile);
    const SnapshotStore::Found found = store.find(key, *restoreFrom);
    if (!found.entry)
        return failAndClose(found.refusal);
    const SnapshotManifest &manifest = found.entry->manifest;
    const QString &folder = found.entry->folder;
    // Another instrument's files would overwrite this one's: refused by
    // manufacturer, model and serial, whatever address it answers on.
    if (manifest.instrumentKey != key)
        return failAndClose(QStringLiteral("The snapshot %1 is of another instrument (%2); this one is %3. "
                                           "Nothing was written.")
                                .arg(PrintablePath(folder), PrintablePath(manifest.instrumentKey),
                                     PrintablePath(key)));
    runRecord.restoredFrom = folder;
    if (const std::optional<QString> damaged = planRestore(folder, manifest))
        return failAndClose(*damaged);
    const std::optional<QStringList> toRemove = createdToRemove(folder, manifest);
    if (!toRemove)
        return failAndClose(QStringLiteral("No record in the history names the snapshot %1, so nothing shows which "
                                           "of the %2 file(s) its manifest lists as created that run sent; none is "
                                           "removed unseen. Nothing was written.")
                                .arg(PrintablePath(folder))
                                .arg(manifest.created.size()));
    const QStringList folders = madeFoldersToRemove(manifest);
    memo(QStringLiteral("Restoring the snapshot of the run started %1 UTC: %2 file(s) to put back, %3 to remove.")
             .arg(manifest.runStarted.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
             .arg(manifest.replaced.size())
             .arg(toRemove->size()));
    throwIfStopRequested();
    if (mode == RunMode::DryRun) {
        for (const PlannedFile &file : std::as_const(kitPlan.files))
            memo(QStringLiteral("Would put back %1 (%2 bytes)").arg(PrintablePath(file.instrumentPath)).arg(file.size));
        for (const QString &path : *toRemove)
            memo(QStringLiteral("Would remove (created by that run) ") + PrintablePath(path));
        for (auto it = folders.crbegin(); it != folders.crend(); ++it)
            memo(QStringLiteral("Would remove the folder, if then empty (made by that run) ") + PrintablePath(*it));
        link.Disconnect();
        return ended(RunOutcome::Succeeded, QStringLiteral("Dry run: the restore would go ahead; nothing was written."));
    }
    if (const StepEnd end = putBack(*toRemove))
        return end;
    removeMadeFolders(folders);
    return std::nullopt;
}

std::optional<QString> UpgradeRun::planRestore(const QString &folder, const SnapshotManifest &manifest)
{
    // Every kept file is read and checked before the first write: a damaged
    // snapshot must not be half put back.
    kitPlan = KitPlan();
    kitPlan.kitFolder = folder;
    for (const SnapshotFile &kept : manifest.replaced) {
        const std::optional<PlannedFile> file = checkedCopy(folder, kept);
        if (!file)
            return QStringLiteral("The snapshot's copy of %1 is missing or damaged (%2); nothing was written.")
                .arg(PrintablePath(kept.instrumentPath), PrintablePath(QDir(folder).filePath(kept.stored)));
        kitPlan.fileIndex.insert(file->localPath, kitPlan.files.size());
        kitPlan.files.append(*file);
        kitPlan.totalBytes += file->size;
    }
    runRecord.takePlan(kitPlan);
    runRecord.kitFolder = folder;
    QStringList planned;
    for (const PlannedFile &file : std::as_const(kitPlan.files))
        planned.append(file.instrumentPath);
    sendCheck->begin(planned);
    totalBytes = kitPlan.totalBytes;
    return std::nullopt;
}

std::optional<QStringList> UpgradeRun::createdToRemove(const QString &folder, const SnapshotManifest &manifest)
{
    // The manifest says what that run was about to create; only its record
    // says what it then sent. A file it never sent is not its to remove,
    // whoever put it there since.
    if (manifest.created.isEmpty() && manifest.createdFolders.isEmpty())
        return QStringList();
    const std::optional<QSet<QString>> written = filesWrittenBy(historyFile, folder, manifest.address);
    throwIfStopRequested();
    if (!written)
        return std::nullopt;
    QStringList remove;
    for (const QString &path : manifest.created) {
        if (IsNameFile(path))
            memo(QStringLiteral("Kept %1: a NAME file is never removed.").arg(PrintablePath(path)));
        else if (!written->contains(path))
            memo(QStringLiteral("Kept %1: the record of the snapshot's run does not show that run sent it.")
                     .arg(PrintablePath(path)));
        else
            remove << path;
    }
    return remove;
}

bool UpgradeRun::ensureDriveFolder(const QString &folder)
{
    // Made the way the copy makes its folders; the depth of a checked path bounds the descent.
    if (IsDriveRoot(folder) || drive->folder(folder).state == DriveAnswer::State::Present)
        return true;
    const QString parent = DriveFolderOf(folder);
    return ensureDriveFolder(parent) && EnsureInstrumentFolder(parent, DriveNameOf(folder));
}

UpgradeRun::StepEnd UpgradeRun::putBack(const QStringList &toRemove)
{
    link.SetTransferType(TTransferType::Image);
    for (const PlannedFile &file : std::as_const(kitPlan.files)) {
        throwIfStopRequested();
        memo(QStringLiteral("Putting back... ") + PrintablePath(file.instrumentPath));
        const QString folder = DriveFolderOf(file.instrumentPath);
        if (!ensureDriveFolder(folder))
            return failAndClose(QStringLiteral("The folder %1 can't be made on the instrument, so %2 can't be put "
                                               "back; the files listed above it are back.")
                                    .arg(PrintablePath(folder), PrintablePath(file.instrumentPath)));
        throwIfStopRequested();
        if (!uploadFile({file.localPath, file.instrumentPath, file.size}, true))
            return failAndClose(QStringLiteral("%1 could not be put back: %2")
                                    .arg(PrintablePath(file.instrumentPath), DownloadFailedText));
        copiedBytes += file.size;
        showCopyProgress();
    }
    takeVerdicts(sendCheck->settle());
    for (const QString &path : toRemove) {
        if (const std::optional<QString> refusal = removeFile(path, -1, {})) {
            memo(*refusal);
            return failAndClose(*refusal);
        }
    }
    return std::nullopt;
}

} // namespace upgrade

// --restore: a snapshot found, checked whole, and put back; then the files
// its run created are removed.
#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "platform/Sha256.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/run/Snapshot.h"

#include <QDir>
#include <QFile>

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

} // namespace

UpgradeRun::StepEnd UpgradeRun::restoreStep()
{
    enter(RunStep::Restore);
    const QString key = InstrumentKey(QString::fromLatin1(link.IdentityReply).trimmed(), runAddress);
    const SnapshotStore store(historyFile);
    const std::optional<SnapshotStore::Entry> found = store.find(key, *restoreFrom);
    if (!found)
        return failAndClose(restoreFrom->isEmpty()
                                ? QStringLiteral("No snapshot of this instrument (%1) is kept in %2.")
                                      .arg(PrintablePath(key), PrintablePath(store.root()))
                                : QStringLiteral("No snapshot \"%1\" is kept in %2.")
                                      .arg(PrintablePath(*restoreFrom), PrintablePath(store.root())));
    const SnapshotManifest &manifest = found->manifest;
    // Another instrument's files would overwrite this one's: refused by
    // manufacturer, model and serial, whatever address it answers on.
    if (manifest.instrumentKey != key)
        return failAndClose(QStringLiteral("The snapshot %1 is of another instrument (%2); this one is %3. "
                                           "Nothing was written.")
                                .arg(PrintablePath(found->folder), PrintablePath(manifest.instrumentKey),
                                     PrintablePath(key)));
    runRecord.restoredFrom = found->folder;
    memo(QStringLiteral("Restoring the snapshot of the run started %1 UTC: %2 file(s) to put back, %3 to remove.")
             .arg(manifest.runStarted.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
             .arg(manifest.replaced.size())
             .arg(manifest.created.size()));
    if (const std::optional<QString> damaged = planRestore(found->folder, manifest))
        return failAndClose(*damaged);
    throwIfStopRequested();
    if (mode == RunMode::DryRun) {
        for (const PlannedFile &file : std::as_const(kitPlan.files))
            memo(QStringLiteral("Would put back %1 (%2 bytes)").arg(PrintablePath(file.instrumentPath)).arg(file.size));
        for (const QString &path : manifest.created)
            memo(QStringLiteral("Would remove (created by that run) ") + PrintablePath(path));
        link.Disconnect();
        return ended(RunOutcome::Succeeded, QStringLiteral("Dry run: the restore would go ahead; nothing was written."));
    }
    return putBack(manifest);
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

UpgradeRun::StepEnd UpgradeRun::putBack(const SnapshotManifest &manifest)
{
    link.SetTransferType(TTransferType::Image);
    for (const PlannedFile &file : std::as_const(kitPlan.files)) {
        throwIfStopRequested();
        memo(QStringLiteral("Putting back... ") + PrintablePath(file.instrumentPath));
        if (!uploadFile({file.localPath, file.instrumentPath, file.size}, true))
            return failAndClose(DownloadFailedText);
        copiedBytes += file.size;
        showCopyProgress();
    }
    takeVerdicts(sendCheck->settle());
    if (const std::optional<QString> refusal = removeCreated(manifest.created)) {
        memo(*refusal);
        return failAndClose(*refusal);
    }
    return std::nullopt;
}

} // namespace upgrade

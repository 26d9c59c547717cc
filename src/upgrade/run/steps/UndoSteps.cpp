// The run's undo steps: the snapshot of what it replaces (--backup), the
// snapshot put back (--restore), and the removal of the files the new kit
// dropped (--delete-dropped).
#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "platform/LocalFolder.h"
#include "platform/MessageBox.h"
#include "platform/Sha256.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/drive/DrivePlaces.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/kit/LocalTreeWalker.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/run/Snapshot.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>

namespace upgrade {

using instrument::PrintablePath;

namespace {

// NAME files identify the modules to the instrument: never removed.
bool isNameFile(const QString &instrumentPath)
{
    return instrumentPath.startsWith(SystemFolder + QStringLiteral("/MID"))
           && instrumentPath.endsWith(QStringLiteral("/NAME"));
}

QString bytesText(qint64 bytes)
{
    return QLocale::c().toString(bytes);
}

} // namespace

UpgradeRun::StepEnd UpgradeRun::undoPlanStep()
{
    if (deleteDropped) {
        const std::optional<QStringList> found = droppedFiles();
        throwIfStopRequested();
        if (!found)
            return failAndClose(QStringLiteral("The kit's folders can't all be read, so the files it dropped "
                                               "can't be told apart; nothing was written or removed."));
        dropped = *found;
        if (dropped.size() > maxDelete) {
            for (const QString &path : std::as_const(dropped))
                memo(QStringLiteral("Dropped by the kit: ") + PrintablePath(path));
            return failAndClose(QStringLiteral("%1 file(s) would be removed, more than --max-delete %2 allows; "
                                               "nothing was written or removed.")
                                    .arg(dropped.size())
                                    .arg(maxDelete));
        }
        for (const QString &path : std::as_const(dropped))
            memo((mode == RunMode::DryRun ? QStringLiteral("Would remove (dropped by the kit): ")
                                          : QStringLiteral("To remove after the copy (dropped by the kit): "))
                 + PrintablePath(path));
        if (dropped.isEmpty())
            memo(QStringLiteral("Dropped files: the kit holds every file the runs on record put on this instrument."));
    }
    if (mode == RunMode::DryRun)
        return std::nullopt;
    return snapshotStep();
}

std::optional<QStringList> UpgradeRun::droppedFiles()
{
    // What the whole kit holds, every SIGNAL folder included: a file the
    // operator did not tick this time is still the kit's.
    QSet<QString> inKit;
    bool readable = true;
    const auto walkInto = [&](const QString &localRoot, const QString &instrumentRoot) {
        LocalTreeWalker walker(
            [&](const WalkItem &item) {
                if (!item.entry.isFolder()) {
                    const QString parent = item.parentRelative.isEmpty()
                                               ? instrumentRoot
                                               : instrumentRoot + QLatin1Char('/') + item.parentRelative;
                    inKit.insert(parent + QLatin1Char('/') + item.entry.name);
                }
                return item.loopsBack ? WalkStep::Skip : WalkStep::Go;
            },
            [&](const WalkFailure &failure) {
                memo(QStringLiteral("Folder can't be listed: %1 (%2)")
                         .arg(PrintablePath(failure.localPath), failure.reason));
                readable = false;
                return WalkStep::Stop;
            });
        if (!walker.walk(localRoot))
            readable = false;
    };
    const QString target = localFolder(LocalModuleRoot);
    for (const auto &entry : catalogue.entries()) {
        if (entry->name.isEmpty())
            walkInto(target, InstrumentRoot);
        else
            walkInto(platform::JoinLocalPath(target, entry->name), InstrumentRoot + entry->name);
    }
    walkInto(localFolder(LocalSystemFiles), SystemFolder);
    if (!readable)
        return std::nullopt;

    const SendIndex index(historyFile);
    const QString key = InstrumentKey(QString::fromLatin1(link.IdentityReply), runAddress);
    QStringList found;
    const QHash<QString, VerifiedSend> sends = index.sendsTo(key);
    for (auto it = sends.cbegin(); it != sends.cend(); ++it) {
        if (!inKit.contains(it.key()) && !isNameFile(it.key()))
            found << it.key();
    }
    if (const QString problem = index.problem(); !problem.isEmpty())
        memo(problem);
    found.sort();
    return found;
}

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

    // Which files the run replaces with other content: the one place that
    // reads the drive for it.
    const SendIndex index(historyFile);
    DrivePlaces drive(link);
    QList<std::pair<QString, qint64>> toFetch;
    for (const PlannedFile &file : std::as_const(kitPlan.files)) {
        const DrivePlace place = drive.at(file.instrumentPath);
        throwIfStopRequested();
        switch (place.state) {
        case DrivePlace::State::Absent:
            manifest.created << file.instrumentPath;
            continue;
        case DrivePlace::State::CantTell:
            return failSnapshot(place.why);
        case DrivePlace::State::Present:
            break;
        }
        const std::optional<VerifiedSend> last = index.lastVerified(manifest.instrumentKey, file.instrumentPath);
        const bool sameContent = place.size == file.size && last && last->size == file.size
                                 && last->sha256Hex == file.sha256.toHex();
        if (!sameContent)
            toFetch.append({file.instrumentPath, place.size});
    }
    // What the run will remove goes into the snapshot too, so that a
    // restore brings it back.
    for (const QString &path : std::as_const(dropped)) {
        const DrivePlace place = drive.at(path);
        throwIfStopRequested();
        if (place.state == DrivePlace::State::CantTell)
            return failSnapshot(place.why);
        if (place.state == DrivePlace::State::Present)
            toFetch.append({path, place.size});
    }
    if (toFetch.isEmpty() && manifest.created.isEmpty()) {
        memo(QStringLiteral("Snapshot: the run replaces nothing on the instrument, so none was taken."));
        return std::nullopt;
    }

    const SnapshotStore store(historyFile);
    const QString folder = store.folderFor(manifest.instrumentKey, manifest.runStarted);
    if (!QDir().mkpath(folder))
        return failSnapshot(QStringLiteral("its folder can't be made: ") + folder);
    bool completed = false;
    const auto removeUnfinished = qScopeGuard([&] {
        if (!completed)
            QDir(folder).removeRecursively();
    });
    link.SetTransferType(TTransferType::Image);
    for (const auto &[path, size] : std::as_const(toFetch)) {
        SnapshotFile kept{path, size, {}, QString::number(manifest.replaced.size() + 1)};
        QFile local(QDir(folder).filePath(kept.stored));
        if (!local.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return failSnapshot(QStringLiteral("%1 can't be written (%2)").arg(local.fileName(), local.errorString()));
        memo(QStringLiteral("Keeping... ") + PrintablePath(path));
        const TDownloadReply reply = link.DownloadFile(path, size, local);
        throwIfStopRequested();
        if (reply.kind != TDownloadReply::Kind::Fetched)
            return failSnapshot(QStringLiteral("%1: %2").arg(PrintablePath(path), reply.problem));
        if (!local.flush())
            return failSnapshot(QStringLiteral("%1 can't be written (%2)").arg(local.fileName(), local.errorString()));
        kept.sha256Hex = reply.sha256.toHex();
        manifest.replaced.append(kept);
    }
    if (const std::optional<QString> error = store.complete(folder, manifest))
        return failSnapshot(QStringLiteral("its manifest can't be written (%1)").arg(*error));
    completed = true;
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

std::optional<QString> UpgradeRun::removeFile(const QString &instrumentPath, qint64 size, const QByteArray &sha256Hex)
{
    // The instrument's own commands make folders and list them, but remove
    // nothing: DELE is the one way, and a refusal ends the step.
    const TDeleteReply reply = link.DeleteFile(instrumentPath);
    throwIfStopRequested();
    TDeleteReply::Kind kind = reply.kind;
    // Servers answer 550 for "no such file" and for "not allowed" alike:
    // only a drive that no longer shows the file makes it gone.
    if (kind == TDeleteReply::Kind::NotFound
        && DrivePlaces(link).at(instrumentPath).state != DrivePlace::State::Absent)
        kind = TDeleteReply::Kind::Refused;
    throwIfStopRequested();
    switch (kind) {
    case TDeleteReply::Kind::Deleted:
        memo(QStringLiteral("Removed ") + PrintablePath(instrumentPath));
        break;
    case TDeleteReply::Kind::NotFound:
        memo(QStringLiteral("Already gone: ") + PrintablePath(instrumentPath));
        break;
    case TDeleteReply::Kind::NotImplemented:
    case TDeleteReply::Kind::Refused:
        return QStringLiteral("The instrument's FTP server refused to remove %1 (%2); the instrument has no command "
                              "of its own to remove a file.")
            .arg(PrintablePath(instrumentPath), reply.replyLine);
    }
    runRecord.deleted.append(RecordedFile{instrumentPath, size, sha256Hex, FileOutcome::NotSent, {}});
    return std::nullopt;
}

UpgradeRun::StepEnd UpgradeRun::deleteDroppedStep()
{
    if (!deleteDropped || dropped.isEmpty())
        return std::nullopt;
    enter(RunStep::DeleteDropped);
    const SendIndex index(historyFile);
    const QString key = InstrumentKey(QString::fromLatin1(link.IdentityReply), runAddress);
    for (const QString &path : std::as_const(dropped)) {
        const VerifiedSend last = index.lastVerified(key, path).value_or(VerifiedSend{});
        if (const std::optional<QString> refusal = removeFile(path, last.size, last.sha256Hex)) {
            memo(*refusal);
            return failAndClose(*refusal);
        }
    }
    memo(QStringLiteral("Dropped files: %1 removed.").arg(runRecord.deleted.size()));
    return std::nullopt;
}

UpgradeRun::StepEnd UpgradeRun::restoreStep()
{
    enter(RunStep::Restore);
    const QString identity = QString::fromLatin1(link.IdentityReply).trimmed();
    const QString key = InstrumentKey(identity, runAddress);
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

    // Every kept file is read and checked before the first write: a damaged
    // snapshot must not be half put back.
    kitPlan = KitPlan();
    kitPlan.kitFolder = found->folder;
    for (const SnapshotFile &kept : manifest.replaced) {
        PlannedFile file;
        file.localPath = QDir(found->folder).filePath(kept.stored);
        file.instrumentPath = kept.instrumentPath;
        QFile local(file.localPath);
        platform::Sha256 digest;
        const bool read = local.open(QIODevice::ReadOnly) && digest.addFile(local).ok();
        const std::optional<FileStamp> stamp = FileStamp::of(local);
        file.sha256 = digest.result();
        if (!read || !stamp || stamp->size != kept.size || file.sha256.toHex() != kept.sha256Hex)
            return failAndClose(QStringLiteral("The snapshot's copy of %1 is missing or damaged (%2); nothing was "
                                               "written.")
                                    .arg(PrintablePath(kept.instrumentPath), PrintablePath(file.localPath)));
        file.size = kept.size;
        file.stamp = *stamp;
        file.stampSettled = true; // its bytes were just checked
        kitPlan.fileIndex.insert(file.localPath, kitPlan.files.size());
        kitPlan.files.append(file);
        kitPlan.totalBytes += file.size;
    }
    runRecord.takePlan(kitPlan);
    runRecord.kitFolder = found->folder;
    {
        QStringList planned;
        for (const PlannedFile &file : std::as_const(kitPlan.files))
            planned.append(file.instrumentPath);
        sendCheck->begin(planned);
    }
    totalBytes = kitPlan.totalBytes;
    throwIfStopRequested();

    if (mode == RunMode::DryRun) {
        for (const PlannedFile &file : std::as_const(kitPlan.files))
            memo(QStringLiteral("Would put back %1 (%2 bytes)").arg(PrintablePath(file.instrumentPath)).arg(file.size));
        for (const QString &path : manifest.created)
            memo(QStringLiteral("Would remove (created by that run) ") + PrintablePath(path));
        link.Disconnect();
        return ended(RunOutcome::Succeeded, QStringLiteral("Dry run: the restore would go ahead; nothing was written."));
    }

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
    // Only what that run created, as its manifest names it; never a NAME file.
    for (const QString &path : manifest.created) {
        if (isNameFile(path))
            continue;
        if (const std::optional<QString> refusal = removeFile(path, -1, {})) {
            memo(*refusal);
            return failAndClose(*refusal);
        }
    }
    return std::nullopt;
}

} // namespace upgrade

// The run's undo steps that remove files: those the new kit dropped
// (--delete-dropped), found before the first write and removed after the
// copy, and those a restored snapshot's run created, with the folders it made. The snapshot and the
// restore themselves are in SnapshotStep.cpp and RestoreStep.cpp.
#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "platform/LocalFolder.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DrivePath.h"
#include "upgrade/kit/LocalTreeWalker.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/Snapshot.h"

#include <QSet>

namespace upgrade {

using instrument::PrintablePath;

bool IsNameFile(const QString &instrumentPath)
{
    return instrumentPath.startsWith(SystemFolder + QStringLiteral("/MID"))
           && instrumentPath.endsWith(QStringLiteral("/NAME"));
}

UpgradeRun::StepEnd UpgradeRun::undoPlanStep()
{
    if (deleteDropped) {
        const std::optional<QStringList> found = droppedFiles();
        throwIfStopRequested();
        if (!found)
            return failAndClose(QStringLiteral("The kit's folders can't all be read, so the files it dropped "
                                               "can't be told apart; nothing was written or removed."));
        dropped = unchangedSinceSent(*found);
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
        if (!inKit.contains(it.key()) && !IsNameFile(it.key()))
            found << it.key();
    }
    if (const QString problem = index.problem(); !problem.isEmpty())
        memo(problem);
    found.sort();
    return found;
}

QStringList UpgradeRun::unchangedSinceSent(const QStringList &found)
{
    // A file the operator changed since the run on record sent it is the
    // operator's now. Its size is all the drive tells without a download:
    // a change that keeps the size goes unseen.
    const SendIndex index(historyFile);
    const QString key = InstrumentKey(QString::fromLatin1(link.IdentityReply), runAddress);
    QStringList unchanged;
    for (const QString &path : found) {
        const std::optional<VerifiedSend> last = index.lastVerified(key, path);
        const DriveAnswer now = drive->file(path);
        throwIfStopRequested();
        if (now.state == DriveAnswer::State::Absent || (now.state == DriveAnswer::State::Present && last
                                                        && now.size == last->size)) {
            unchanged << path;
        } else if (now.state == DriveAnswer::State::Present) {
            memo(QStringLiteral("Kept %1: it holds %2 bytes on the instrument, not the %3 the run on record sent "
                                "(changed since?).")
                     .arg(PrintablePath(path))
                     .arg(now.size)
                     .arg(last ? last->size : -1));
        } else {
            memo(QStringLiteral("Kept %1: its size on the instrument can't be told (%2), so nothing shows it is "
                                "as the run on record sent it.")
                     .arg(PrintablePath(path), now.why.isEmpty() ? QStringLiteral("no size listed") : now.why));
        }
    }
    return unchanged;
}

std::optional<QString> UpgradeRun::removeFile(const QString &instrumentPath, qint64 size, const QByteArray &sha256Hex)
{
    // The instrument's own commands make folders and list them, but remove
    // nothing: DELE is the one way, and a refusal ends the step.
    const TDeleteReply reply = link.DeleteFile(instrumentPath);
    drive->removed(instrumentPath);
    throwIfStopRequested();
    TDeleteReply::Kind kind = reply.kind;
    // Servers answer 550 for "no such file" and for "not allowed" alike:
    // only a drive that no longer shows the file makes it gone.
    if (kind == TDeleteReply::Kind::NotFound && drive->file(instrumentPath).state != DriveAnswer::State::Absent)
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

QStringList UpgradeRun::madeFoldersToRemove(const SnapshotManifest &manifest)
{
    QStringList folders;
    for (const QString &folder : manifest.createdFolders) {
        // A manifest is checked for plain paths, not for whose folder it
        // names: the instrument's own stay whatever it says.
        if (IsDriveRoot(folder) || folder == SystemFolder || IsNameFile(folder + QStringLiteral("/NAME")))
            memo(QStringLiteral("Kept the folder %1: it is the instrument's own.").arg(PrintablePath(folder)));
        else
            folders << folder;
    }
    return folders;
}

void UpgradeRun::removeMadeFolders(const QStringList &folders)
{
    // Deepest first: a folder is empty only once those made in it went.
    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        const QString &folder = *it;
        DriveAnswer there;
        const FolderListing *listing = drive->contents(folder, there);
        throwIfStopRequested();
        if (!listing && there.state == DriveAnswer::State::Absent)
            continue;
        if (!listing) {
            memo(QStringLiteral("Kept the folder %1: what it holds can't be told (%2).")
                     .arg(PrintablePath(folder), there.why.isEmpty() ? QStringLiteral("no listing") : there.why));
            continue;
        }
        if (!listing->entries.isEmpty()) {
            memo(QStringLiteral("Kept the folder %1: it holds %2 entr(ies) that run did not put there.")
                     .arg(PrintablePath(folder))
                     .arg(listing->entries.size()));
            continue;
        }
        const TDeleteReply reply = link.RemoveFolder(folder);
        drive->removed(folder);
        throwIfStopRequested();
        if (reply.kind == TDeleteReply::Kind::Deleted)
            memo(QStringLiteral("Removed the folder ") + PrintablePath(folder));
        else
            memo(QStringLiteral("Kept the folder %1: the instrument's FTP server refused to remove it (%2).")
                     .arg(PrintablePath(folder), PrintablePath(reply.replyLine)));
    }
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

} // namespace upgrade

#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "platform/Exception.h"
#include "platform/LocalFolder.h"
#include "platform/MessageBox.h"
#include "ftp/FtpTypes.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/kit/LocalTreeWalker.h"
#include "upgrade/kit/SentKitFile.h"
#include "upgrade/changed/UnchangedFiles.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DrivePath.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/run/steps/ParallelSend.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace upgrade {

using instrument::PrintablePath;

QString UpgradeRun::localFolder(const QString &name) const
{
    // Local names compare without regard to case: "Target" also finds "target".
    const QString path = platform::JoinLocalPath(exeDir, name);
    return platform::ResolveLocalPath(path).value_or(path);
}

bool UpgradeRun::EnsureInstrumentFolder(const QString &parent, const QString &name)
{
    const QString path = upgrade::JoinDrivePath(parent, name);
    // A changed-only run has the parent's listing (it needs it for the files
    // there anyway): a folder the lookup shows there is not asked for again,
    // and one it shows absent is made at once, the commands asked only when
    // the listing turns out wrong.
    if (unchanged) {
        const upgrade::DriveAnswer there = drive->folder(path);
        throwIfStopRequested();
        if (there.state == upgrade::DriveAnswer::State::Present)
            return true;
        if (there.state == upgrade::DriveAnswer::State::Absent) {
            if (link.MakeDirectory(parent, name)) {
                drive->madeEmpty(path);
                return true;
            }
            throwIfStopRequested();
            if (!link.ChangeSubdirectory(parent, name))
                return false;
            drive->made(path);
            return true;
        }
    }
    if (!link.ChangeSubdirectory(parent, name) && !link.MakeDirectory(parent, name))
        return false;
    drive->made(path);
    return true;
}

bool UpgradeRun::acceptInstrumentName(const QString &name, const QString &localPath)
{
    if (instrument::FitsCommandLine(name))
        return true;
    memo(QStringLiteral("Name not accepted by VX900 (double quote or control character): ") + PrintablePath(localPath));
    return false;
}

void UpgradeRun::reportUnlistedFolder(const WalkFailure &failure)
{
    memo(QStringLiteral("Folder can't be listed: %1 (%2)").arg(PrintablePath(failure.localPath), failure.reason));
}

void UpgradeRun::reportProgress(const QString &file, qint64 sentOfFile)
{
    if (parallel)
        sentOfFile += parallel->pool.bytesInFlight();
    observer.progress({copiedBytes + sentOfFile, totalBytes, barPosition, file});
}

void UpgradeRun::showCopyProgress()
{
    // With nothing measured the ratio means nothing: the bar waits for the
    // run to set it to the maximum. A file that grew since it was measured
    // must not push the bar past its end.
    if (totalBytes > 0) {
        const double ratio = 100.0 * static_cast<double>(copiedBytes) / static_cast<double>(totalBytes);
        barPosition = static_cast<int>(std::min(ratio, 100.0));
    }
    reportProgress(QString(), 0);
}

bool UpgradeRun::uploadFile(const FileTransfer &file, bool measured)
{
    observer.fileStarted(file);
    reportProgress(file.instrumentPath, 0);
    bool copied = false;
    // Reports the file as failed also when the upload raises.
    struct EndReport
    {
        UpgradeRun &run;
        const FileTransfer &file;
        const bool &copied;
        ~EndReport()
        {
            if (!copied && file.ofKit)
                run.recordUnsentAsFailed(file);
            run.observer.fileEnded(file, copied ? upgrade::FileOutcome::SentNotVerifiable : upgrade::FileOutcome::Failed);
        }
    } endReport{*this, file, copied};

    // Only a measured file's bytes count towards the total.
    const auto progress = [this, &file, measured](qint64 sent) {
        reportProgress(file.instrumentPath, measured ? sent : 0);
    };
    // A kit file goes from a descriptor checked against pre-flight, and is
    // checked again once sent; a NAME file is the run's own.
    std::optional<upgrade::SentKitFile> kitFile;
    if (measured) {
        kitFile.emplace(file.localPath, plannedForSend(file));
        if (!kitFile->open())
            failChangedFile(file, false);
    }
    bool sent = false;
    try {
        sent = kitFile ? link.UploadFile(kitFile->file(), file.instrumentPath, progress)
                       : link.UploadFile(file.localPath, file.instrumentPath, progress);
    } catch (const std::exception &) {
        // A file cut short under the send fails it as a read error: the
        // operator is told why.
        if (kitFile && !stopping && !kitFile->unchanged())
            failChangedFile(file, true);
        throw;
    }
    if (!sent)
        return false;
    if (kitFile && !kitFile->unchanged())
        failChangedFile(file, false);
    verifyUpload(file, measured);
    copied = true;
    ++filesCopied;
    return true;
}

const upgrade::PlannedFile *UpgradeRun::plannedForSend(const FileTransfer &file)
{
    if (const upgrade::PlannedFile *planned = kitPlan.file(file.localPath))
        return planned;
    // A SIGNAL folder ticked during the copy: read now, as pre-flight reads.
    const upgrade::PlannedFile *late = upgrade::PlanLateFile(kitPlan, file.localPath, file.instrumentPath);
    if (!late)
        failKitFile(file, kitPlan.problems.constLast().text(), false);
    runRecord.addPlanned(*late);
    // A signed kit vouches for it as for the others.
    if (const std::optional<QString> problem = upgrade::LateFileProblem(signature, *late))
        failKitFile(file, *problem, false);
    return late;
}

void UpgradeRun::verifyUpload(const FileTransfer &file, bool measured)
{
    // Sent; its verdict may wait for the listing of its folder.
    runRecord.setOutcome(file.instrumentPath, upgrade::FileOutcome::SentNotVerifiable);
    // A NAME file goes in text type, whose stored size may differ from the
    // local one by its line ends: only its presence is checked.
    takeVerdicts(sendCheck->sent(file.instrumentPath, file.size, !measured));
}

void UpgradeRun::takeVerdicts(const QList<UploadCheck> &checks)
{
    throwIfStopRequested();
    for (const UploadCheck &check : checks) {
        if (check.failed()) {
            runRecord.setOutcome(check.remotePath, upgrade::FileOutcome::Failed);
            memo(check.message());
            // The same way out as a transfer the server refused: the link's
            // box, then the error that ends the run.
            bool handled = false;
            link.NMFTPFailure(handled, TCmdType::Upload);
            throwIfStopRequested();
            throw std::runtime_error(check.message().toStdString());
        }
        runRecord.setOutcome(check.remotePath, check.verdict == UploadCheck::Verdict::Verified
                                                   ? upgrade::FileOutcome::SentVerified
                                                   : upgrade::FileOutcome::SentNotVerifiable);
    }
}

void UpgradeRun::failChangedFile(const FileTransfer &file, bool boxShown)
{
    failKitFile(file, upgrade::SentKitFile::ChangedText(file.localPath), boxShown);
}

void UpgradeRun::failKitFile(const FileTransfer &file, const QString &text, bool boxShown)
{
    memo(text);
    if (!boxShown) {
        bool handled = false;
        link.NMFTPFailure(handled, TCmdType::Upload);
    }
    throwIfStopRequested();
    runRecord.setOutcome(file.instrumentPath, upgrade::FileOutcome::Failed);
    for (upgrade::RecordedFile &recorded : runRecord.files) {
        if (recorded.instrumentPath == file.instrumentPath)
            recorded.sha256.clear(); // pre-flight's bytes are not what went
    }
    throw Exception(text);
}

bool UpgradeRun::leftAlone(const QString &localPath, const QString &instrumentPath)
{
    // Only a file pre-flight read has a digest to compare; a late one goes.
    const upgrade::PlannedFile *planned = kitPlan.file(localPath);
    if (!planned || planned->instrumentPath != instrumentPath)
        return false;
    const std::optional<upgrade::UnchangedFiles::Verdict> verdict =
        unchanged->check(QString::fromLatin1(link.IdentityReply), runAddress, instrumentPath, planned->size,
                         planned->sha256.toHex());
    throwIfStopRequested();
    if (const QString problem = unchanged->indexProblem(); !problem.isEmpty() && !indexProblemShown) {
        indexProblemShown = true;
        memo(problem);
    }
    if (!verdict)
        return false;
    unchanged->skipped(planned->size, *verdict);
    runRecord.setAlreadyThere(instrumentPath, verdict->verifiedOn);
    // The bar follows what is sent: a file left alone leaves the total.
    totalBytes -= std::min(totalBytes, planned->size);
    showCopyProgress();
    takeVerdicts(sendCheck->skipped(instrumentPath));
    return true;
}

bool UpgradeRun::copyLateFolder(const QString &localRoot, const QString &instrumentRoot)
{
    LocalTreeWalker walker([&](const WalkItem &item) {
        throwIfStopRequested();
        const QString &name = item.entry.name;
        const QString parent = item.parentRelative.isEmpty()
                                   ? instrumentRoot
                                   : instrumentRoot + QLatin1Char('/') + item.parentRelative;

        if (item.entry.isFolder()) {
            if (!acceptInstrumentName(name, item.localPath))
                return WalkStep::Stop;
            if (item.loopsBack) {
                memo(QStringLiteral("Folder leads back into itself: ") + PrintablePath(item.localPath));
                return WalkStep::Stop;
            }
            return EnsureInstrumentFolder(parent, name) ? WalkStep::Go : WalkStep::Stop;
        }

        if (!acceptInstrumentName(name, item.localPath))
            return WalkStep::Stop;
        // A pipe, a device or a dangling link would block the upload or
        // fail it without saying which entry it was.
        if (!item.entry.isRegularFile()) {
            memo(QStringLiteral("Not a regular file, can't copy: ") + PrintablePath(item.localPath));
            return WalkStep::Stop;
        }
        const QString instrumentPath = parent + QLatin1Char('/') + name;
        if (unchanged && leftAlone(item.localPath, instrumentPath))
            return WalkStep::Go;
        if (parallel) {
            parallel->collected.push_back({item.localPath, instrumentPath, item.entry.size});
            return WalkStep::Go;
        }
        memo(QStringLiteral("Copying... ") + name);
        if (!uploadFile({item.localPath, instrumentPath, item.entry.size}, true))
            return WalkStep::Stop;
        copiedBytes += item.entry.size;
        showCopyProgress();
        return WalkStep::Go;
    }, [this](const WalkFailure &failure) {
        // Its files would silently be missing on the instrument.
        reportUnlistedFolder(failure);
        return WalkStep::Stop;
    });
    return walker.walk(localRoot);
}

} // namespace upgrade

#pragma once

#include "upgrade/audit/KitAudit.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/signature/KitSignature.h"
#include "upgrade/common/ModuleEntry.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/run/RunObserver.h"
#include "instrument/FtpSessionPool.h"

#include <QProcessEnvironment>
#include <QString>

#include <memory>
#include <optional>

class TfrmVX900;
struct UploadCheck;

namespace upgrade {

class DriveLookup;
class DriveSource;
struct ParallelSend;
struct SessionsScope;
class ModuleCatalogue;
class SendCheck;
class KitCheckAhead;
class UnchangedFiles;
struct SnapshotFile;
struct SnapshotManifest;
struct WalkFailure;
struct WalkItem;

enum class RunMode {
    Upgrade,
    // Connects, checks the instrument and the kit, and ends before the
    // first write: no folder made, no file sent.
    DryRun,
    // Connects, checks the instrument and the kit, and compares the kit
    // with what the instrument holds where it would write: no question
    // asked, nothing written.
    Audit,
};

// The upgrade run: what the Copy button does, as a plain object. It works on
// the link and the catalogue it is handed, reports through its observer, and
// ends with a RunResult. The window and vxupgrade-cli are two views of it.
//
// The FTP client keeps the event loop turning while it waits, so a view's
// handlers run in the middle of a run: RequestStop may come at any time, and
// the view must keep the link and the catalogue alive until Run returns.
class UpgradeRun
{
public:
    // `exeDir` is the program's folder with its trailing separator. While
    // the run object lives, the link's boxes go to `observer` too.
    UpgradeRun(TfrmVX900 &link, ModuleCatalogue &catalogue, QString exeDir, RunObserver &observer);
    ~UpgradeRun();
    UpgradeRun(const UpgradeRun &) = delete;
    UpgradeRun &operator=(const UpgradeRun &) = delete;

    // The whole upgrade against the instrument at `address`. Catches every
    // error: one raised below ends the run as failed, with `raised` set. A
    // call while a run is under way returns at once (failed, mayRetry) and
    // tells the observer nothing.
    [[nodiscard]] RunResult Run(const QString &address, RunMode mode = RunMode::Upgrade);

    // Where every run puts itself on record, one line each, whichever way it
    // ends; nowhere when empty. The content digests of the kit are cached
    // beside it.
    QString historyFile;
    // Send only the kit files the instrument does not hold at their size
    // with this very content verified there by a run on record (the index
    // beside the history); trustSize: the right size is enough.
    bool changedOnly = false;
    bool trustSize = false;
    // FTP sessions the copy sends on at once, the link's own included: 1
    // is the link's dialogue alone; 0 (auto) as many as this model's
    // server took in the last such run on record, else AutoSessions.
    int sessions = 1;
    static constexpr int AutoSessions = 4;
    // Which keys vouch for a signed kit, and whether the kit must be signed;
    // checked before the first write, dry runs included.
    upgrade::SignaturePolicy signaturePolicy;
    // False: the run fills in its record but leaves writing it to the view,
    // which adds what it learns afterwards (the restart) and then appends it.
    bool recordAtEnd = true;
    // An audit counts a file of the right size but unknown origin as not matching.
    bool strictAudit = false;
    // Before the first write, fetch every instrument file the run replaces
    // with other content into a snapshot beside the history; a snapshot
    // that fails ends the run with nothing written. Then keep at most
    // keepSnapshots per instrument, all within snapshotBytesLimit.
    bool backup = false;
    int keepSnapshots = 3;
    qint64 snapshotBytesLimit = qint64(2) * 1024 * 1024 * 1024;
    // After a copy that succeeded, remove the files this instrument's
    // verified runs put there that the kit no longer holds; more than
    // maxDelete of them ends the run before its first write.
    bool deleteDropped = false;
    int maxDelete = 100;
    // Put a snapshot back instead of upgrading: that of the run named (its
    // start, or its folder), the last of this instrument when empty. A dry
    // run lists what it would do.
    std::optional<QString> restoreFrom;
    // The last audit's findings.
    [[nodiscard]] const upgrade::AuditReport &audit() const { return auditReport; }
    // The kit as the last run checked it, and that run's record.
    [[nodiscard]] const upgrade::KitPlan &plan() const { return kitPlan; }
    [[nodiscard]] const upgrade::RunRecord &record() const { return runRecord; }

    [[nodiscard]] bool running() const { return inProgress; }
    // Ends a run under way at its next step, the FTP wait it is in first;
    // the run closes the link and ends as stopped. Nothing outside a run.
    void RequestStop();
    [[nodiscard]] bool stopRequested() const { return stopping; }

    // The run's steps, callable on their own for a link that is connected.
    // Checks the whole kit before anything is written; false after one memo
    // line for each problem. The copy steps send only files it has read.
    [[nodiscard]] bool checkKit();
    // Asks whether to go on with little space left; false when the operator
    // answered No. On Yes locks the KRN3 and PRZ53 boxes ticked.
    [[nodiscard]] bool ConfirmLowSpace();
    // Asks whether to go on when the upgrade needs more new space than the
    // instrument reports free; false when the operator answered No.
    [[nodiscard]] bool ConfirmSpace(qint64 needBytes, qint64 freeBytes);
    // The checked kit against `freeBytes`: false only when the operator
    // declined. The need is the bytes to send less those of the instrument
    // files they replace, read only when the bytes to send exceed the free
    // space. No question after a Yes to the low-space one (a memo line
    // instead), and none when the free space is negative, which says nothing.
    [[nodiscard]] bool SpaceAllowsCopy(qint64 freeBytes, bool lowSpaceAnswered);
    // The memo line of a run that sent no file of the kit.
    static const QString NothingSentText;
    // How a stopped audit and a stopped dry run end: neither writes, so
    // nothing can be half-written.
    static const QString StoppedAuditText;
    static const QString StoppedDryRunText;
    // Copies one module's tree to "/F0:/" + its name, as checkKit planned it.
    [[nodiscard]] bool CopyModule(ModuleEntry &entry);
    // Copies the system files into the existing "/F0:/SYSTEM", as checkKit planned them.
    [[nodiscard]] bool CopySystemFiles();
    // Makes every module's identification folder and missing NAME file.
    [[nodiscard]] bool MakeNameFiles();

    // Counters of the run, zero at the start of every run; 64-bit, so that
    // trees of 2 GiB and more measure and move the bar.
    qint64 fileCount = 0;
    qint64 copiedBytes = 0;
    qint64 totalBytes = 0;
    qint64 filesCopied = 0; // every file sent, NAME files included
    // The bar's position, 0 to 100.
    int barPosition = 0;

    // Where NAME files are written before they are sent.
    QString TemporaryFolder = TemporaryFolderFor(QProcessEnvironment::systemEnvironment());
    // TEMP, else TMP, else TMPDIR (the first one set and not empty), else
    // the system's temporary folder.
    [[nodiscard]] static QString TemporaryFolderFor(const QProcessEnvironment &environment);

private:
    class Scope;

    // What the drive check learnt, for the steps after it.
    qint64 freeBytes = 0;
    bool lowSpaceAnswered = false;
    qint64 nameFilesSent = 0; // filesCopied once the NAME files are sent

    // Every figure and finding of a previous run forgotten, and a new
    // record begun for `address`.
    void beginRun(const QString &address, RunMode runMode);
    [[nodiscard]] RunResult performRun(const QString &address);
    // A step's end of the run; nothing when the run goes on to the next.
    using StepEnd = std::optional<RunResult>;
    // The command channel, the log-in and the identity.
    [[nodiscard]] StepEnd connectStep(const QString &address);
    // "/F0:/" entered, the free space read and the low-space question.
    [[nodiscard]] StepEnd driveCheckStep();
    // The kit checked and measured, then the space question; an audit and a
    // dry run end here.
    [[nodiscard]] StepEnd measureStep();
    [[nodiscard]] StepEnd nameFilesStep();
    // --backup and --delete-dropped, before the first write: the files the
    // new kit drops (refused beyond maxDelete), then the snapshot.
    [[nodiscard]] StepEnd undoPlanStep();
    [[nodiscard]] StepEnd snapshotStep();
    // The snapshot's parts: which files it keeps (the rest of the kit's
    // files the run creates), then those fetched into `folder` with the
    // manifest written last. Nothing, or why the snapshot can't be taken.
    [[nodiscard]] std::optional<QString> planSnapshot(SnapshotManifest &manifest, QList<SnapshotFile> &toFetch);
    [[nodiscard]] std::optional<QString> fetchSnapshot(const QString &folder, SnapshotManifest &manifest,
                                                       const QList<SnapshotFile> &toFetch);
    // The kit's files no longer held by the kit that verified runs put on
    // this instrument, sorted; nothing when the kit can't be walked.
    [[nodiscard]] std::optional<QStringList> droppedFiles();
    [[nodiscard]] StepEnd deleteDroppedStep();
    // --restore: the snapshot found, checked and put back.
    [[nodiscard]] StepEnd restoreStep();
    // The snapshot's files read, checked and planned as the kit to send;
    // nothing, or why it can't be put back. Then the files put back and
    // those the snapshot's run created removed.
    [[nodiscard]] std::optional<QString> planRestore(const QString &folder, const SnapshotManifest &manifest);
    // Of the files the manifest lists as created, those to remove: the ones
    // the record of the snapshot's run shows it sent, NAME files aside;
    // nothing when no record names the snapshot.
    [[nodiscard]] std::optional<QStringList> createdToRemove(const QString &folder, const SnapshotManifest &manifest);
    // The folder on the instrument, and those above it, made where missing.
    [[nodiscard]] bool ensureDriveFolder(const QString &folder);
    [[nodiscard]] StepEnd putBack(const QStringList &toRemove);
    // Of the folders the manifest lists as made by its run, those a restore
    // may remove: never the drive's, SYSTEM or a NAME file's.
    [[nodiscard]] QStringList madeFoldersToRemove(const SnapshotManifest &manifest);
    // Each of those folders that is empty now, deepest first, removed by
    // RMD; one the operator put something in, or the server refuses to
    // remove, is kept with a memo line: the files are back either way.
    void removeMadeFolders(const QStringList &folders);
    // Of the dropped files, those still as the run on record left them (by
    // size); each other one is named, with why it stays.
    [[nodiscard]] QStringList unchangedSinceSent(const QStringList &dropped);
    // Removes one file by FTP; nothing, or why it could not be removed.
    [[nodiscard]] std::optional<QString> removeFile(const QString &instrumentPath, qint64 size,
                                                    const QByteArray &sha256Hex);
    // The module trees, then the system files.
    [[nodiscard]] StepEnd copyStep();
    // The memo's last lines, the success box and QUIT.
    [[nodiscard]] RunResult finishStep();
    [[nodiscard]] RunResult ended(RunOutcome outcome, const QString &message, bool mayRetry = false) const;
    [[nodiscard]] RunResult failAndClose(const QString &text);
    // A dry run's end, once the kit and the space are checked.
    [[nodiscard]] RunResult endDryRun();
    // With changedOnly: takes out of the plan what the run would leave alone.
    void leaveOutUnchanged();
    // An audit's end, once the kit is checked: the drive looked at, the
    // link closed.
    [[nodiscard]] RunResult endAudit();
    // Why the kit check refused the kit: its memo lines, in order.
    [[nodiscard]] QStringList refusalReasons() const;
    void enter(RunStep step);
    void memo(const QString &line);
    int showBox(const QString &text, const QString &caption, int flags);
    void throwIfStopRequested() const;
    void disconnectAfterStop();
    // A new drive lookup and send check, knowing nothing yet.
    void forgetDrive();
    // Hands the file just sent to the send check and takes the verdicts due
    // now; throws (after the "Upload failed" box) at the first failed one.
    void verifyUpload(const FileTransfer &file, bool measured);
    // What pre-flight read for a kit file about to go; read now when
    // pre-flight did not plan it. Fails the run when it can't be read, or a
    // signed kit does not vouch for it.
    [[nodiscard]] const upgrade::PlannedFile *plannedForSend(const FileTransfer &file);
    void takeVerdicts(const QList<UploadCheck> &checks);
    // The run's last step: QUIT. Everything is on the instrument by then.
    [[nodiscard]] RunResult closeAfterSuccess();
    // Fails the run on a kit file that is no longer what pre-flight read:
    // the "Upload failed" box unless the failed send has shown it, a memo
    // line naming the file, and the file failed on record without a digest.
    [[noreturn]] void failChangedFile(const FileTransfer &file, bool boxShown);
    // The same end for a kit file that can't go for another reason, told by `text`.
    [[noreturn]] void failKitFile(const FileTransfer &file, const QString &text, bool boxShown);
    void putOnRecord(const RunResult &result);
    // With changedOnly: true when the kit file is left alone, already on
    // the instrument (put on record, the bar moved on).
    [[nodiscard]] bool leftAlone(const QString &localPath, const QString &instrumentPath);

    [[nodiscard]] bool EnsureInstrumentFolder(const QString &parent, const QString &name);
    // Sends the plan's entries of one module (-1: the system files).
    [[nodiscard]] bool copyPlanned(int module, const ModuleEntry *signalOwner);
    [[nodiscard]] bool copyPlannedFile(const upgrade::PlannedFile &planned);
    // Walks a folder the kit check did not read (a SIGNAL folder ticked
    // since) and sends what it holds, each file read as a late one.
    [[nodiscard]] bool copyLateFolder(const QString &localFolder, const QString &instrumentFolder);
    [[nodiscard]] bool acceptInstrumentName(const QString &name, const QString &localPath);
    void reportUnlistedFolder(const WalkFailure &failure);
    // Sends one file, reporting it; `measured`: its bytes count in the
    // progress (a NAME file's do not).
    [[nodiscard]] bool uploadFile(const FileTransfer &file, bool measured);
    void reportProgress(const QString &file, qint64 sentOfFile);
    void showCopyProgress();
    [[nodiscard]] QString localFolder(const QString &name) const;

    // With sessions other than 1 (steps/ParallelCopy.cpp): going down the
    // kit check's list only makes the folders and collects the files, which
    // then go over every session open, largest first.
    [[nodiscard]] upgrade::SessionsScope openSessions();
    [[nodiscard]] int sessionsWanted();
    [[nodiscard]] bool sendCollected();
    void settleSessions();
    [[nodiscard]] bool sendOnLink(int ticket);
    void takeOutcome(const FtpSessionPool::Outcome &outcome);
    // After a failure or a stop: nothing more goes, and every file a
    // session is sending goes on record as what became of it.
    void abandonSends();
    // A file whose send failed: "failed" on record unless it has a verdict.
    void recordUnsentAsFailed(const FileTransfer &file);

    TfrmVX900 &link;
    ModuleCatalogue &catalogue;
    QString exeDir;
    RunObserver &observer;

    RunMode mode = RunMode::Upgrade;
    upgrade::KitPlan kitPlan;
    upgrade::AuditReport auditReport;
    upgrade::SignatureCheck signature;
    upgrade::RunRecord runRecord;
    // What is on the instrument's drive, learnt afresh by every run; the
    // check after each send and the changed-only step ask it.
    std::unique_ptr<upgrade::DriveSource> driveSource;
    std::unique_ptr<upgrade::DriveLookup> drive;
    std::unique_ptr<upgrade::SendCheck> sendCheck;
    std::unique_ptr<upgrade::UnchangedFiles> unchanged; // with changedOnly, during the copy
    std::unique_ptr<upgrade::ParallelSend> parallel;    // with sessions other than 1, during the copy
    // The kit's check, started with the run and taken by the measure step.
    std::unique_ptr<upgrade::KitCheckAhead> kitAhead;
    QString runAddress;
    bool indexProblemShown = false;
    QStringList dropped; // with deleteDropped: what the run removes after its copy
    bool inProgress = false;
    bool stopping = false;
    RunStep step = RunStep::Connect;
};

} // namespace upgrade

#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "platform/MessageBox.h"
#include "platform/Sockets.h"
#include "platform/UserAction.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/run/LowSpaceRule.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/changed/UnchangedFiles.h"
#include "upgrade/kit/KitCheckAhead.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/DriveSource.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/run/steps/ParallelSend.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace upgrade {

namespace {

// Thrown at the next step once a stop was asked for; caught by the run
// itself, never shown.
struct RunStopped
{
};

} // namespace

const QString UpgradeRun::StoppedAuditText = QStringLiteral("Audit stopped by the operator; nothing was written.");
const QString UpgradeRun::StoppedDryRunText = QStringLiteral("Dry run stopped by the operator; nothing was written.");

const QString UpgradeRun::NothingSentText =
    QStringLiteral("Nothing from the kit was sent: it holds no file to copy "
                   "(a module's SIGNAL folder goes only when its box is ticked).");

// Marks a run as under way for its whole length, on every way out.
class UpgradeRun::Scope
{
public:
    explicit Scope(UpgradeRun &run)
        : run(run)
    {
        run.inProgress = true;
        run.stopping = false;
    }
    ~Scope() { run.inProgress = false; }
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    UpgradeRun &run;
};

UpgradeRun::UpgradeRun(TfrmVX900 &link, ModuleCatalogue &catalogue, QString exeDir, RunObserver &observer)
    : link(link)
    , catalogue(catalogue)
    , exeDir(std::move(exeDir))
    , observer(observer)
{
    forgetDrive();
    link.OnMessageBox = [this](const QString &text, const QString &caption, int flags) {
        return showBox(text, caption, flags);
    };
}

UpgradeRun::~UpgradeRun()
{
    link.OnMessageBox = nullptr;
}

void UpgradeRun::forgetDrive()
{
    unchanged.reset();
    sendCheck.reset();
    drive.reset();
    driveSource = std::make_unique<upgrade::LinkDriveSource>(link);
    drive = std::make_unique<upgrade::DriveLookup>(*driveSource);
    sendCheck = std::make_unique<upgrade::SendCheck>(*drive);
}

void UpgradeRun::beginRun(const QString &address, RunMode runMode)
{
    fileCount = 0;
    copiedBytes = 0;
    totalBytes = 0;
    filesCopied = 0;
    nameFilesSent = 0;
    freeBytes = 0;
    lowSpaceAnswered = false;
    barPosition = 0;
    mode = runMode;
    kitPlan = upgrade::KitPlan();
    auditReport = upgrade::AuditReport();
    signature = upgrade::SignatureCheck();
    runRecord = upgrade::RunRecord::begin();
    // "192.168.001.010" and "192.168.1.10" are one instrument, on record and
    // in the index of what it holds; text that is no address is kept as
    // typed, and Connect refuses it.
    runAddress = platform::sock::CanonicalAddress(address).value_or(address);
    runRecord.address = runAddress;
    forgetDrive();
    indexProblemShown = false;
    dropped.clear();
    runRecord.dryRun = mode == RunMode::DryRun;
    runRecord.takeModules(catalogue.entries());
}

RunResult UpgradeRun::Run(const QString &address, RunMode runMode)
{
    if (inProgress) {
        RunResult busy;
        busy.message = QStringLiteral("An upgrade run is already under way.");
        busy.mayRetry = true;
        return busy;
    }

    Scope scope(*this);
    beginRun(address, runMode);
    observer.runStarted();
    // A kit's first run reads every byte for its digests: that goes on while
    // the run connects and checks the instrument. A restore sends no kit.
    if (!restoreFrom)
        kitAhead = std::make_unique<upgrade::KitCheckAhead>(exeDir, catalogue.entries(), historyFile);

    RunResult result;
    try {
        result = performRun(address);
    } catch (const RunStopped &) {
    } catch (const std::exception &error) {
        result = ended(RunOutcome::Failed, platform::ExceptionMessage(error), true);
        result.raised = true;
    } catch (...) {
        result = ended(RunOutcome::Failed, QStringLiteral("Unknown error"), true);
        result.raised = true;
    }
    // Unused when the run ended before its measure step.
    kitAhead.reset();
    // Its index and the drive's listings are not needed for the record,
    // which loads the index afresh under the history's lock.
    forgetDrive();

    // A stop asked for at any point wins, also over an end the run had
    // reached by then: the link is closed and the view closes. An error
    // caused by the stop's own abort is the stop, not a failure to show.
    if (stopping) {
        disconnectAfterStop();
        result = ended(RunOutcome::Stopped, mode == RunMode::Audit    ? StoppedAuditText
                                            : mode == RunMode::DryRun ? StoppedDryRunText
                                                                      : QStringLiteral("Stopped by the operator."));
    }
    result.identity = link.IdentityReply;
    result.filesCopied = filesCopied;
    result.bytesCopied = copiedBytes;
    result.bytesTotal = totalBytes;
    putOnRecord(result);
    observer.runEnded(result);
    return result;
}

RunResult UpgradeRun::performRun(const QString &address)
{
    // Each step either hands on or ends the run with its result; the run
    // ends once, in Run.
    if (StepEnd end = connectStep(address))
        return *end;
    if (StepEnd end = driveCheckStep())
        return *end;
    if (restoreFrom) {
        const StepEnd end = restoreStep();
        return end ? *end : finishStep();
    }
    if (StepEnd end = measureStep())
        return *end;
    if (StepEnd end = undoPlanStep())
        return *end;
    if (StepEnd end = nameFilesStep())
        return *end;
    if (StepEnd end = copyStep())
        return *end;
    if (StepEnd end = deleteDroppedStep())
        return *end;
    return finishStep();
}

UpgradeRun::StepEnd UpgradeRun::connectStep(const QString &address)
{
    enter(RunStep::Connect);
    memo(QStringLiteral("Connecting VX900 ..."));

    // Connect shows its own box; the operator may correct the address and
    // press Copy again.
    if (!link.Connect(address))
        return ended(RunOutcome::Failed, link.ConnectFailure(), true);
    // Known from here on, also to a view that outlives a run cut short.
    runRecord.identity = QString::fromLatin1(link.IdentityReply).trimmed();
    throwIfStopRequested();
    return std::nullopt;
}

UpgradeRun::StepEnd UpgradeRun::driveCheckStep()
{
    enter(RunStep::DriveCheck);
    if (!link.ChangeDirectory(upgrade::InstrumentRoot)) {
        showBox(upgrade::DamagedText, upgrade::Caption, platform::MB_ICONERROR);
        throwIfStopRequested();
        return ended(RunOutcome::Failed, upgrade::DamagedText, true);
    }

    // A negative reply reads as a huge unsigned number, as the instrument's
    // own 32-bit figure would: no prompt then.
    freeBytes = link.FreeSpace();
    runRecord.freeSpace = freeBytes;
    const bool spaceMatters = std::any_of(upgrade::LowSpaceModules.cbegin(), upgrade::LowSpaceModules.cend(),
                                          [this](const QString &name) { return catalogue.box(name).ticked; });
    lowSpaceAnswered = false;
    // An audit writes nothing, so the space is no question for it.
    if (static_cast<quint64>(freeBytes) < upgrade::LowSpaceThreshold && spaceMatters && mode != RunMode::Audit) {
        enter(RunStep::LowSpace);
        // A dry run asks too: its answer decides what the kit holds, and a
        // No ends the dry run as it would end the run.
        if (!ConfirmLowSpace()) {
            throwIfStopRequested();
            link.Disconnect();
            return ended(RunOutcome::Declined, QStringLiteral("Declined at the low-space question."));
        }
        throwIfStopRequested();
        lowSpaceAnswered = true;
    }
    return std::nullopt;
}

UpgradeRun::StepEnd UpgradeRun::nameFilesStep()
{
    enter(RunStep::NameFiles);
    if (!MakeNameFiles())
        return failAndClose(upgrade::NameFilesFailedText);
    nameFilesSent = filesCopied;

    link.SetTransferType(TTransferType::Image);
    throwIfStopRequested();
    return std::nullopt;
}

RunResult UpgradeRun::finishStep()
{
    enter(RunStep::Finish);
    if (filesCopied == nameFilesSent && !(unchanged && unchanged->filesSkipped() > 0) && !restoreFrom)
        memo(NothingSentText);
    if (unchanged)
        memo(unchanged->summary());
    // Once, how the files were found on the instrument.
    if (const QString verified = sendCheck->summary(); !verified.isEmpty())
        memo(verified);
    memo(QStringLiteral("Copy completed!"));
    barPosition = 100;
    reportProgress(QString(), 0);
    showBox(upgrade::SuccessText, upgrade::Caption, platform::MB_ICONINFORMATION);
    throwIfStopRequested();
    return closeAfterSuccess();
}

RunResult UpgradeRun::closeAfterSuccess()
{
    // Every file is stored and verified by now: a QUIT refused, or never
    // answered within its bound, leaves the instrument upgraded. The view
    // still shows the error as it shows any error raised below; the run
    // is a success with a note.
    try {
        link.Disconnect();
    } catch (const std::exception &error) {
        throwIfStopRequested();
        RunResult result = ended(RunOutcome::Succeeded, platform::ExceptionMessage(error), true);
        result.raised = true;
        result.note = QStringLiteral("Note: the instrument's FTP server did not close the connection cleanly (%1); "
                                     "every file was stored.")
                          .arg(platform::ExceptionMessage(error).trimmed());
        runRecord.note = result.note;
        return result;
    }
    return ended(RunOutcome::Succeeded, upgrade::SuccessText);
}

void UpgradeRun::putOnRecord(const RunResult &result)
{
    runRecord.identity = QString::fromLatin1(link.IdentityReply).trimmed();
    runRecord.bytes = copiedBytes;
    // An audit stays an audit on record, also one that never read the drive
    // (no connection, a stop): its findings say why there are none.
    if (mode == RunMode::Audit && runRecord.audit.isEmpty()) {
        upgrade::AuditReport unmade;
        unmade.problem = result.message;
        runRecord.audit = unmade.toJson(strictAudit);
    }
    runRecord.finish(upgrade::OutcomeName(result.outcome), upgrade::StepName(result.step), result.message);
    if (historyFile.isEmpty() || !recordAtEnd)
        return;
    if (const std::optional<QString> error = upgrade::RunHistory(historyFile).append(runRecord)) {
        const QString line = QStringLiteral("The run could not be put on record: ") + *error;
        memo(line);
        observer.recordNotWritten(line);
    }
}

RunResult UpgradeRun::ended(RunOutcome outcome, const QString &message, bool mayRetry) const
{
    RunResult result;
    result.outcome = outcome;
    result.step = step;
    result.message = message;
    result.mayRetry = mayRetry;
    return result;
}

RunResult UpgradeRun::failAndClose(const QString &text)
{
    // The box comes first: the link stays open while the operator reads it.
    showBox(text, upgrade::Caption, platform::MB_ICONERROR);
    throwIfStopRequested();
    link.Disconnect();
    return ended(RunOutcome::Failed, text);
}

void UpgradeRun::enter(RunStep next)
{
    step = next;
    observer.stepEntered(next);
}

void UpgradeRun::memo(const QString &line)
{
    observer.memoLine(line);
}

int UpgradeRun::showBox(const QString &text, const QString &caption, int flags)
{
    return observer.box(text, caption, flags);
}

void UpgradeRun::throwIfStopRequested() const
{
    if (stopping)
        throw RunStopped{};
}

void UpgradeRun::disconnectAfterStop()
{
    // The view closes and the link goes with it: a QUIT refused after the
    // abort changes nothing the operator could act on.
    try {
        link.Disconnect();
    } catch (const std::exception &) {
    }
}

} // namespace upgrade

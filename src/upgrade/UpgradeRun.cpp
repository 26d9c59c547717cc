#include "upgrade/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"
#include "upgrade/DigestCache.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/ModuleCatalogue.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <memory>

namespace {

// Thrown at the next step once a stop was asked for; caught by the run
// itself, never shown.
struct RunStopped
{
};

QString outcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Succeeded:
        return QStringLiteral("succeeded");
    case RunOutcome::Declined:
        return QStringLiteral("declined");
    case RunOutcome::Stopped:
        return QStringLiteral("stopped");
    case RunOutcome::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QString stepName(RunStep step)
{
    switch (step) {
    case RunStep::Connect:
        return QStringLiteral("connect");
    case RunStep::DriveCheck:
        return QStringLiteral("drive check");
    case RunStep::LowSpace:
        return QStringLiteral("low space");
    case RunStep::Measure:
        return QStringLiteral("kit check");
    case RunStep::NameFiles:
        return QStringLiteral("name files");
    case RunStep::Modules:
        return QStringLiteral("modules");
    case RunStep::SystemFiles:
        return QStringLiteral("system files");
    case RunStep::Finish:
        break;
    }
    return QStringLiteral("finish");
}

} // namespace

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
    link.OnMessageBox = [this](const QString &text, const QString &caption, int flags) {
        return showBox(text, caption, flags);
    };
}

UpgradeRun::~UpgradeRun()
{
    link.OnMessageBox = nullptr;
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
    fileCount = 0;
    copiedBytes = 0;
    totalBytes = 0;
    filesCopied = 0;
    barPosition = 0;
    lastBoxText.clear();
    mode = runMode;
    kitPlan = upgrade::KitPlan();
    sizeNoticeShown = false;
    runRecord = upgrade::RunRecord::begin();
    runRecord.address = address;
    runRecord.dryRun = mode == RunMode::DryRun;
    runRecord.takeModules(catalogue.entries());
    observer.runStarted();

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

    // A stop asked for at any point wins, also over an end the run had
    // reached by then: the link is closed and the view closes. An error
    // caused by the stop's own abort is the stop, not a failure to show.
    if (stopping) {
        disconnectAfterStop();
        result = ended(RunOutcome::Stopped, QStringLiteral("Stopped by the operator."));
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
    enter(RunStep::Connect);
    memo(QStringLiteral("Connecting VX900 ..."));

    // Connect shows its own box; the operator may correct the address and
    // press Copy again.
    if (!link.Connect(address))
        return ended(RunOutcome::Failed, lastBoxText, true);
    throwIfStopRequested();

    enter(RunStep::DriveCheck);
    if (!link.ChangeDirectory(upgrade::InstrumentRoot)) {
        showBox(upgrade::DamagedText, upgrade::Caption, platform::MB_ICONERROR);
        throwIfStopRequested();
        return ended(RunOutcome::Failed, upgrade::DamagedText, true);
    }

    // A negative reply reads as a huge unsigned number, as the instrument's
    // own 32-bit figure would: no prompt then.
    const qint64 freeBytes = link.FreeSpace();
    runRecord.freeSpace = freeBytes;
    const bool spaceMatters = std::any_of(upgrade::LowSpaceModules.cbegin(), upgrade::LowSpaceModules.cend(),
                                          [this](const QString &name) { return catalogue.box(name).ticked; });
    if (static_cast<quint64>(freeBytes) < upgrade::LowSpaceThreshold && spaceMatters) {
        enter(RunStep::LowSpace);
        if (mode == RunMode::DryRun) {
            memo(QStringLiteral("Little space left: the run would ask whether to go on."));
        } else if (!ConfirmLowSpace()) {
            throwIfStopRequested();
            link.Disconnect();
            return ended(RunOutcome::Declined, QStringLiteral("Declined at the low-space question."));
        }
        throwIfStopRequested();
    }

    // The whole kit is checked before the first write: a file that can't be
    // read halfway through would otherwise fail the run after the files
    // before it had replaced the instrument's.
    enter(RunStep::Measure);
    if (!checkKit())
        return failAndClose(upgrade::DownloadFailedText);
    throwIfStopRequested();
    totalBytes = kitPlan.totalBytes;
    fileCount = kitPlan.files.size();
    if (static_cast<quint64>(totalBytes) > static_cast<quint64>(freeBytes)) {
        if (mode == RunMode::DryRun) {
            memo(QStringLiteral("The kit's %1 bytes exceed the %2 bytes free: the run would ask whether to go on.")
                     .arg(totalBytes)
                     .arg(freeBytes));
        } else if (!ConfirmSpace(totalBytes, freeBytes)) {
            throwIfStopRequested();
            link.Disconnect();
            return ended(RunOutcome::Declined, QStringLiteral("Declined at the space question."));
        }
        throwIfStopRequested();
    }
    if (mode == RunMode::DryRun) {
        link.Disconnect();
        return ended(RunOutcome::Succeeded, QStringLiteral("Dry run: the upgrade would go ahead; nothing was written."));
    }

    enter(RunStep::NameFiles);
    if (!MakeNameFiles())
        return failAndClose(upgrade::NameFilesFailedText);

    link.NMFTP->SetTransferType(upgrade::TransferImage);
    throwIfStopRequested();

    // Each phase is entered when it has a file to send; the system files'
    // phase follows whenever the kit holds any file.
    const QString systemFiles = localFolder(upgrade::LocalSystemFiles);
    const bool filesInModules = std::any_of(kitPlan.files.cbegin(), kitPlan.files.cend(),
                                            [](const upgrade::PlannedFile &file) { return file.module >= 0; });
    const qint64 filesInBoth = kitPlan.files.size();
    reportProgress(QString(), 0);

    if (filesInModules) {
        enter(RunStep::Modules);
        memo(QStringLiteral("Copying ALL modules ..."));
        // The count is read again before each module: nothing may change the
        // catalogue during a run, but a wrong count must not read past it.
        for (std::size_t i = 0; i < catalogue.size(); ++i) {
            ModuleEntry &entry = *catalogue.entries()[i];
            memo(QStringLiteral("** ") + entry.name);
            if (!CopyModule(entry))
                return failAndClose(upgrade::DownloadFailedText);
        }
    }

    if (filesInBoth != 0) {
        enter(RunStep::SystemFiles);
        memo(QString());
        memo(QStringLiteral("Copying System files ..."));
        if (!CopyTree(systemFiles, upgrade::SystemFolder))
            return failAndClose(upgrade::DownloadFailedText);
    }

    enter(RunStep::Finish);
    memo(QStringLiteral("Copy completed!"));
    barPosition = 100;
    reportProgress(QString(), 0);
    showBox(upgrade::SuccessText, upgrade::Caption, platform::MB_ICONINFORMATION);
    throwIfStopRequested();
    link.Disconnect();
    return ended(RunOutcome::Succeeded, upgrade::SuccessText);
}

bool UpgradeRun::checkKit()
{
    // The digest cache only saves reading an unchanged kit again: one that
    // can't be read or written costs time, never the run.
    std::unique_ptr<DigestCache> cache;
    if (!historyFile.isEmpty()) {
        cache = std::make_unique<DigestCache>(QFileInfo(historyFile).dir().filePath(QStringLiteral("digests")));
        cache->load();
    }
    kitPlan = upgrade::CheckKit(exeDir, catalogue.entries(), cache.get());
    if (cache && kitPlan.bytesDigested > 0)
        static_cast<void>(cache->save());
    runRecord.takePlan(kitPlan);
    for (const upgrade::KitProblem &problem : std::as_const(kitPlan.problems))
        memo(problem.text());
    return kitPlan.sendable();
}

void UpgradeRun::putOnRecord(const RunResult &result)
{
    runRecord.identity = QString::fromLatin1(link.IdentityReply).trimmed();
    runRecord.bytes = copiedBytes;
    runRecord.finish(outcomeName(result.outcome), stepName(result.step), result.message);
    if (historyFile.isEmpty() || !recordAtEnd)
        return;
    if (const std::optional<QString> error = upgrade::RunHistory(historyFile).append(runRecord))
        memo(QStringLiteral("The run could not be put on record: ") + *error);
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
    if ((flags & 0xF0) == platform::MB_ICONERROR)
        lastBoxText = text;
    return observer.box(text, caption, flags);
}

void UpgradeRun::RequestStop()
{
    if (!inProgress || stopping)
        return;
    stopping = true;
    // Ends the FTP wait the run is in now (the data connection first); the
    // run checks the flag after every call that can pump events.
    link.AbortTransfers();
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

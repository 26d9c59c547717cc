#include "upgrade/UpgradeWindow.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "platform/MessageBox.h"
#include "upgrade/InstrumentLayout.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

// Thrown at the next step once Quit or the title-bar close asked a run to
// stop; caught by the run itself, never shown.
struct RunStopped
{
};

} // namespace

// Marks a run as under way for its whole length, on every way out.
class RunScope
{
public:
    explicit RunScope(TUpgradeWindow &window)
        : window(window)
    {
        window.runInProgress = true;
        window.stopRequested = false;
        // The waits of the FTP client keep the window live; a second run
        // started inside this one would reconnect the link it is using.
        window.btnCopy->setEnabled(false);
    }
    ~RunScope()
    {
        window.runInProgress = false;
        window.btnCopy->setEnabled(true);
    }
    RunScope(const RunScope &) = delete;
    RunScope &operator=(const RunScope &) = delete;

private:
    TUpgradeWindow &window;
};

void TUpgradeWindow::btnCopyClick()
{
    if (runInProgress)
        return;

    RunEnd end = RunEnd::StayOpen;
    {
        RunScope scope(*this);
        try {
            end = performRun();
        } catch (const RunStopped &) {
            end = RunEnd::Close;
        } catch (...) {
            // An error raised below ends the run where it arose and keeps the
            // window open for another try, so the pointer must not stay busy.
            // An error caused by our own Abort is the stop the operator asked
            // for, not a failure to show.
            unsetCursor();
            if (!stopRequested)
                throw;
            end = RunEnd::Close;
        }
    }

    if (stopRequested) {
        disconnectAfterStop();
        CloseMainWindow();
    } else if (end == RunEnd::Close) {
        CloseMainWindow();
    }
}

TUpgradeWindow::RunEnd TUpgradeWindow::performRun()
{
    mmStatus->clear();
    ProgressBar->setValue(0);
    mmStatus->appendPlainText(QStringLiteral("Connecting VX900 ..."));

    // Connect shows its own box; the operator may correct the address and
    // press Copy again.
    if (!linkForm->Connect(ipAddressText))
        return RunEnd::StayOpen;
    throwIfStopRequested();

    if (!linkForm->ChangeDirectory(upgrade::InstrumentRoot)) {
        platform::MessageBox(QStringLiteral("VX900's File System was damaged!"), upgrade::Caption,
                             platform::MB_ICONERROR);
        return RunEnd::StayOpen;
    }

    // A negative reply reads as a huge unsigned number, as the instrument's
    // own 32-bit figure would: no prompt then.
    const qint64 freeBytes = linkForm->FreeSpace();
    if (static_cast<quint64>(freeBytes) < upgrade::LowSpaceThreshold
        && (cbQMX53->isChecked() || cbLPS3->isChecked())) {
        if (!ConfirmLowSpace()) {
            linkForm->Disconnect();
            return RunEnd::Close;
        }
        throwIfStopRequested();
    }

    setCursor(Qt::WaitCursor);

    if (!MakeNameFiles())
        return failAndClose(QStringLiteral("Fail to make MID files !\n\nVX900 file system might be full."));

    linkForm->NMFTP->SetTransferType(upgrade::TransferImage);
    throwIfStopRequested();

    // fileCount runs on across both calls: B counts both trees, so the system
    // phase is entered whenever either tree holds a file.
    const QString modules = localFolder(upgrade::LocalModuleRoot);
    const QString systemFiles = localFolder(upgrade::LocalSystemFiles);
    foldersUnlisted = false;
    const qint64 filesInModules = MeasureFolder(modules);
    const qint64 filesInBoth = MeasureFolder(systemFiles);
    if (foldersUnlisted)
        return failAndClose(upgrade::DownloadFailedText);

    if (filesInModules != 0) {
        mmStatus->appendPlainText(QStringLiteral("Copying ALL modules ..."));
        for (std::size_t i = 0; i < moduleList->size(); ++i) {
            ModuleEntry &entry = *(*moduleList)[i];
            mmStatus->appendPlainText(QStringLiteral("** ") + entry.name);
            if (!CopyModule(entry))
                return failAndClose(upgrade::DownloadFailedText);
        }
    }

    if (filesInBoth != 0) {
        mmStatus->appendPlainText(QString());
        mmStatus->appendPlainText(QStringLiteral("Copying System files ..."));
        if (!CopyTree(systemFiles, upgrade::SystemFolder))
            return failAndClose(upgrade::DownloadFailedText);
    }

    mmStatus->appendPlainText(QStringLiteral("Copy completed!"));
    ProgressBar->setValue(ProgressBar->maximum());
    platform::MessageBox(QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900."),
                         upgrade::Caption, platform::MB_ICONINFORMATION);
    throwIfStopRequested();
    linkForm->Disconnect();
    return RunEnd::Close;
}

TUpgradeWindow::RunEnd TUpgradeWindow::failAndClose(const QString &text)
{
    // The box comes first: the link stays open while the operator reads it.
    platform::MessageBox(text, upgrade::Caption, platform::MB_ICONERROR);
    throwIfStopRequested();
    linkForm->Disconnect();
    return RunEnd::Close;
}

void TUpgradeWindow::RequestStop()
{
    if (!runInProgress || stopRequested)
        return;
    stopRequested = true;
    // Ends the FTP wait the run is in now (the data connection first); the
    // run checks the flag after every call that can pump events.
    if (linkForm)
        linkForm->AbortTransfers();
}

void TUpgradeWindow::throwIfStopRequested() const
{
    if (stopRequested)
        throw RunStopped{};
}

void TUpgradeWindow::disconnectAfterStop()
{
    if (!linkForm)
        return;
    // The window is closing and the link goes with it: a QUIT refused after
    // the abort changes nothing the operator could act on.
    try {
        linkForm->Disconnect();
    } catch (const std::exception &) {
    }
}

void TUpgradeWindow::closeEvent(QCloseEvent *event)
{
    if (runInProgress) {
        // The run still uses the catalogue and the link: it closes the window
        // itself once it has stopped.
        event->ignore();
        RequestStop();
        return;
    }
    QWidget::closeEvent(event);
}

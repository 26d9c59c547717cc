#pragma once

#include "upgrade/ModuleEntry.h"

#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TfrmVX900;
struct WalkFailure;

// The part of the main window that the upgrade run works on: its controls,
// the instrument link, the catalogue, the run counters and the run's own
// operations. The main window (app layer) derives from it, lays the controls
// out and builds the catalogue; this layer knows nothing of that.
class TUpgradeWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TUpgradeWindow(QWidget *parent = nullptr);
    ~TUpgradeWindow() override;

    // Controls, in the window's declaration order (made by the main window).
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QPlainTextEdit *mmStatus = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QPushButton *btnCopy = nullptr;
    QPushButton *btnQuit = nullptr;
    QLineEdit *IPAddress = nullptr;
    QLabel *Label3 = nullptr;
    QCheckBox *cbKRN3 = nullptr;
    QFrame *Bevel1 = nullptr;
    QCheckBox *cbQMX53 = nullptr;
    QCheckBox *cbLPS3 = nullptr;
    QCheckBox *cbSBX3 = nullptr;
    QCheckBox *cbPRZ53 = nullptr;

    // Members, in declaration order.
    TfrmVX900 *linkForm = nullptr;
    QString ipAddressText;
    QString exeDir;
    std::unique_ptr<ModuleList> moduleList;
    // 64-bit so that trees of 2 GiB and more measure and move the bar.
    qint64 fileCount = 0;
    qint64 copiedBytes = 0;
    qint64 totalBytes = 0;

    // True while btnCopyClick runs, set and cleared by the run on every way
    // out, exceptions included. The FTP waits keep the window live, so Quit
    // and the title-bar close can arrive in the middle of a run: they go to
    // CloseMainWindow and to TUpgradeWindow::closeEvent, which stop the run
    // (the FTP client's Abort and Cancel) and let it close the window once it
    // has unwound; the catalogue and the link are never released under it.
    bool runInProgress = false;

    // Sets hasSignal of the first catalogue entry named exactly `name`
    // (case-sensitive); later entries of that name and a released catalogue
    // are left alone. The module boxes' handlers call it on every change of
    // a box, including changes made by code (setChecked).
    void SetModuleSelected(const QString &name, bool selected);

    // Releases the catalogue and the link and closes the window; the message
    // loop ends once the current handler returns. Afterwards moduleList and
    // linkForm are null: every caller returns at once, and nothing may use
    // them. A second call does nothing harmful. During a run it only asks the
    // run to stop: the run still holds the catalogue and the link, and calls
    // this again itself once it has unwound.
    void CloseMainWindow();

    // The upgrade run: the Copy button's handler. A click while a run is
    // under way is ignored.
    void btnCopyClick();

    // The run's steps (each in its own file of this layer).
    // Adds the files and bytes below `folder` to the run counters; returns
    // `fileCount` afterwards. A folder below it that can't be listed gets a
    // memo line and sets foldersUnlisted, which ends the run before the copy.
    qint64 MeasureFolder(const QString &folder);
    bool foldersUnlisted = false;
    // Asks whether to go on with little space left; false when the operator
    // answered No. On Yes locks and ticks the KRN3 and PRZ53 boxes.
    [[nodiscard]] bool ConfirmLowSpace();
    // Copies one module's tree to "/F0:/" + its name.
    [[nodiscard]] bool CopyModule(ModuleEntry &entry);
    // Copies everything below `localFolder` into the existing instrument folder.
    [[nodiscard]] bool CopyTree(const QString &localFolder, const QString &instrumentFolder);
    // Makes every module's identification folder and missing NAME file.
    [[nodiscard]] bool MakeNameFiles();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class RunEnd { StayOpen, Close };

    RunEnd performRun();
    RunEnd failAndClose(const QString &text);
    void RequestStop();
    void throwIfStopRequested() const;
    void disconnectAfterStop();

    [[nodiscard]] bool EnsureInstrumentFolder(const QString &parent, const QString &name);
    [[nodiscard]] bool copyFolderTree(const QString &localFolder, const QString &instrumentFolder,
                                      const ModuleEntry *signalOwner);
    [[nodiscard]] bool acceptInstrumentName(const QString &name, const QString &localPath);
    void reportUnlistedFolder(const WalkFailure &failure);
    void showCopyProgress();
    [[nodiscard]] QString localFolder(const QString &name) const;

    bool stopRequested = false;

    friend class RunScope;
};

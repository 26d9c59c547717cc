#pragma once

#include "upgrade/ModuleEntry.h"

#include <QWidget>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TfrmVX900;

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

    // True while btnCopyClick runs (set it on entry and clear it on every way
    // out, exceptions included). The run relies on the catalogue, the link
    // and the window staying alive until it ends, and a run may be under way
    // while the operator clicks (the FTP waits pump events): while this is
    // true the main window ignores Quit and the title-bar close. A close made
    // by CloseMainWindow always goes through (it releases the catalogue
    // first, which the window's close handling checks).
    bool runInProgress = false;

    // Sets hasSignal of the first catalogue entry named exactly `name`
    // (case-sensitive); later entries of that name and a released catalogue
    // are left alone. The module boxes' handlers call it on every change of
    // a box, including changes made by code (setChecked).
    void SetModuleSelected(const QString &name, bool selected);

    // Releases the catalogue and the link and closes the window; the message
    // loop ends once the current handler returns. Afterwards moduleList and
    // linkForm are null: every caller returns at once, and nothing may use
    // them. A second call does nothing harmful.
    void CloseMainWindow();

    // The upgrade run: the Copy button's handler.
    void btnCopyClick();
};

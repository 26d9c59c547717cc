#pragma once

#include "instrument/InstrumentPorts.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/run/RunObserver.h"

#include <QWidget>

#include <memory>
#include <optional>

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
namespace upgrade {
class UpgradeRun;
}

// The program's one window: a view of the upgrade run. It lays out the
// controls, makes the link and the catalogue, hands them to the run on Copy,
// and shows what the run reports: memo lines, the bar, the pointer, boxes.
// The work itself is UpgradeRun's.
class TfrmMain : public QWidget, private upgrade::RunObserver
{
    Q_OBJECT

public:
    // `programDir` replaces the running executable's folder (tests, a kit
    // folder named on the command line); `ports` are the instrument's.
    explicit TfrmMain(std::optional<QString> programDir = std::nullopt, InstrumentPorts ports = {},
                      QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The window's outer size, frame and title bar included, and the client
    // area that the original frame (4-pixel borders, 19-pixel caption) left
    // inside it; every control position is relative to the client area.
    static constexpr int OuterWidth = 375;
    static constexpr int OuterHeight = 473;
    static constexpr int ClientWidth = OuterWidth - 8;
    static constexpr int ClientHeight = OuterHeight - 27;

    // Members, in declaration order. linkForm and moduleList live until
    // CloseMainWindow, which leaves them null.
    TfrmVX900 *linkForm = nullptr;
    QString ipAddressText;
    QString exeDir;
    std::unique_ptr<upgrade::ModuleCatalogue> moduleList;

    // The catalogue, built once during construction.
    void LoadCatalogue(const QString &iniPath);
    void ScanTargetFolder();
    void SetModuleSelected(const QString &name, bool selected);

    // Releases the catalogue and the link and closes the window, once: a
    // second call, or Copy and Quit while the link closes (its QUIT wait
    // keeps the event loop turning), do nothing. During a run it only asks
    // the run to stop; the window closes once the run has unwound.
    void CloseMainWindow();
    [[nodiscard]] bool closing() const { return closingStarted; }

    // The upgrade run; ignored while a run is under way or the window closes.
    void btnCopyClick();
    [[nodiscard]] bool runInProgress() const;

    // Handlers.
    void IPAddressChange();
    void IPAddressExit();
    void btnQuitClick();
    void cbKRN3Click();
    void cbLPS3Click();
    void cbQMX53Click();
    void cbPRZ53Click();
    void cbSBX3Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();
    void CreateStatusGroup();
    void NameControls();
    void SetTabOrder();
    void ConnectHandlers();
    [[nodiscard]] QCheckBox *CheckBoxOf(const QString &moduleName) const;
    void moduleBoxClicked(const QString &moduleName);
    void showModuleBox(const QString &moduleName);

    // The run's reports.
    void runStarted() override;
    void stepEntered(upgrade::RunStep step) override;
    void memoLine(const QString &line) override;
    void progress(const upgrade::RunProgress &progress) override;
    int box(const QString &text, const QString &caption, int flags) override;

    // Controls, in the window's declaration order.
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

    // Made with the link and the catalogue, released before them.
    std::unique_ptr<upgrade::UpgradeRun> upgradeRun;
    bool closingStarted = false;

    // The address field's text when IPAddressChange last ran: the field
    // reports some edits that change nothing, and those must not count as a
    // change (an untouched field leaves ipAddressText empty).
    QString lastAddressText;
};

#pragma once

#include "upgrade/UpgradeWindow.h"

#include <optional>

class QCheckBox;

// The program's one window: it lays out the controls of its base, builds the
// module catalogue from "vxUpgrade.ini" or from the folders below "target",
// and handles the address field, the module boxes and Quit. The upgrade run
// itself (Copy) belongs to the base.
class TfrmMain : public TUpgradeWindow
{
    Q_OBJECT

public:
    // `programDir` replaces the running executable's folder; only tests and
    // the command-line runner pass it.
    explicit TfrmMain(std::optional<QString> programDir = std::nullopt, QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The window's outer size, frame and title bar included, and the client
    // area that the original frame (4-pixel borders, 19-pixel caption) left
    // inside it; every control position is relative to the client area.
    static constexpr int OuterWidth = 375;
    static constexpr int OuterHeight = 473;
    static constexpr int ClientWidth = OuterWidth - 8;
    static constexpr int ClientHeight = OuterHeight - 27;

    // The catalogue, built once during construction.
    void LoadCatalogue(const QString &iniPath);
    void ScanTargetFolder();

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

private:
    void CreateControls();
    void SetTabOrder();
    void ConnectHandlers();
    // Enables the box of a known module name when its SIGNAL folder exists.
    void ApplyCheckBoxRule(const ModuleEntry &entry);
    [[nodiscard]] QCheckBox *CheckBoxOf(const QString &moduleName) const;

    // The address field's text when IPAddressChange last ran: the field
    // reports some edits that change nothing, and those must not count as a
    // change (an untouched field leaves ipAddressText empty).
    QString lastAddressText;
};

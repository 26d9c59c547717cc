#include "app/Uvxupgrade.h"

#include "instrument/Uvx900.h"

TfrmMain::TfrmMain(std::optional<QString> programDir, QWidget *parent)
    : TUpgradeWindow(parent)
{
    setWindowTitle(QStringLiteral("VX900 Upgrade"));
    linkForm = new TfrmVX900(this);
    if (programDir)
        exeDir = *programDir;
}

TfrmMain::~TfrmMain() = default;

#include "upgrade/UpgradeWindow.h"

#include "instrument/Uvx900.h"

TUpgradeWindow::TUpgradeWindow(QWidget *parent)
    : QWidget(parent)
    , moduleList(std::make_unique<ModuleList>())
{
}

TUpgradeWindow::~TUpgradeWindow() = default;

void TUpgradeWindow::SetModuleSelected(const QString &name, bool selected)
{
    if (!moduleList)
        return;
    for (const auto &entry : *moduleList) {
        if (entry->name == name) {
            entry->hasSignal = selected;
            return;
        }
    }
}

void TUpgradeWindow::CloseMainWindow()
{
    if (runInProgress) {
        RequestStop();
        return;
    }
    moduleList.reset();
    delete linkForm;
    linkForm = nullptr;
    close();
}

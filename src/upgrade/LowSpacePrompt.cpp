#include "upgrade/UpgradeWindow.h"

#include "platform/MessageBox.h"
#include "upgrade/InstrumentLayout.h"

#include <QCheckBox>

bool TUpgradeWindow::ConfirmLowSpace()
{
    const int answer = platform::MessageBox(
        QStringLiteral("There is not enough space to upgrade VX900.\n\n"
                       "The signals of PRZ53/KRN3 are overwritten with compressed signals.\n\n"
                       "Click YES to continue?"),
        upgrade::Caption, platform::MB_YESNO | platform::MB_ICONQUESTION);
    if (answer == platform::IDNO)
        return false;

    // Going on with little space means the compressed signals of these two
    // modules must replace what is there, so the operator may not untick them.
    const std::pair<QCheckBox *, QString> forced[] = {
        {cbKRN3, QStringLiteral("KRN3")},
        {cbPRZ53, QStringLiteral("PRZ53")},
    };
    for (const auto &[box, name] : forced) {
        if (!box || !box->isEnabled())
            continue;
        box->setEnabled(false);
        box->setChecked(true);
        SetModuleSelected(name, true);
    }
    return true;
}

#include "upgrade/UpgradeRun.h"

#include "platform/MessageBox.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/ModuleCatalogue.h"

bool UpgradeRun::ConfirmLowSpace()
{
    const int answer = showBox(upgrade::LowSpaceQuestionText, upgrade::Caption,
                               platform::MB_YESNO | platform::MB_ICONQUESTION);
    if (answer == platform::IDNO)
        return false;

    // Going on with little space means the compressed signals of these two
    // modules must replace what is there, so the operator may not untick
    // them; a disabled box is left alone.
    for (const QString &name : upgrade::ForcedOnLowSpace)
        catalogue.LockBoxTicked(name);
    return true;
}

bool UpgradeRun::ConfirmSpace(qint64 sendBytes, qint64 freeBytes)
{
    const QString text = QStringLiteral("The upgrade sends %1 bytes; VX900 reports %2 bytes free.\n\n"
                                        "Files that replace files already on VX900 free their space again, "
                                        "so the upgrade may still fit.\n\n"
                                        "Click YES to continue?")
                             .arg(sendBytes)
                             .arg(freeBytes);
    return showBox(text, upgrade::Caption, platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDNO;
}

#include "upgrade/run/UpgradeRun.h"

#include "platform/MessageBox.h"
#include "upgrade/run/LowSpaceRule.h"
#include "upgrade/run/RunTexts.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/drive/DriveLookup.h"
#include "upgrade/drive/ReplacedBytes.h"

namespace upgrade {

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

bool UpgradeRun::ConfirmSpace(qint64 needBytes, qint64 freeBytes)
{
    const QString text = QStringLiteral("The upgrade needs %1 bytes of new space; VX900 reports %2 bytes free.\n\n"
                                        "When the drive fills up, the upgrade stops part-way and leaves VX900 "
                                        "half-upgraded.\n\n"
                                        "Click YES to continue?")
                             .arg(needBytes)
                             .arg(freeBytes);
    return showBox(text, upgrade::Caption, platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDNO;
}

bool UpgradeRun::SpaceAllowsCopy(qint64 freeBytes, bool lowSpaceAnswered)
{
    const qint64 sendBytes = kitPlan.totalBytes;
    if (freeBytes < 0) {
        memo(QStringLiteral("VX900 reports %1 bytes free, which says nothing: the kit's %2 bytes are not "
                            "compared with its space.")
                 .arg(freeBytes)
                 .arg(sendBytes));
        return true;
    }
    if (sendBytes <= freeBytes)
        return true;

    // A rerun mostly replaces files of the same size, which takes no new
    // space; the sizes on the instrument are read only when they matter.
    QStringList paths;
    for (const upgrade::PlannedFile &file : std::as_const(kitPlan.files))
        paths.append(file.instrumentPath);
    const qint64 replaced =
        upgrade::ReplacedBytes(*drive, paths, sendBytes - freeBytes, [this] { throwIfStopRequested(); });
    const qint64 needBytes = sendBytes - replaced;
    if (needBytes <= freeBytes)
        return true;
    // The operator has just agreed to go on with little space: asking again
    // about the same space would only repeat that question.
    if (lowSpaceAnswered) {
        memo(QStringLiteral("The upgrade needs %1 bytes of new space and VX900 reports %2 bytes free: "
                            "going on, as answered.")
                 .arg(needBytes)
                 .arg(freeBytes));
        return true;
    }
    const bool goOn = ConfirmSpace(needBytes, freeBytes);
    throwIfStopRequested();
    return goOn;
}

} // namespace upgrade

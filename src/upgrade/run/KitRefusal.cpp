#include "upgrade/run/KitRefusal.h"

namespace upgrade {
namespace {

// A box is read at a glance; a kit can hold a problem on every file.
constexpr qsizetype ReasonsShown = 3;

} // namespace

QString KitRefusedText(const QStringList &reasons)
{
    QString text = QStringLiteral("The kit was refused: nothing was written to VX900.");
    if (reasons.isEmpty())
        return text;
    text += QStringLiteral("\n\n") + reasons.mid(0, ReasonsShown).join(u'\n');
    if (reasons.size() > ReasonsShown)
        text += QStringLiteral("\n(%1 more in the memo)").arg(reasons.size() - ReasonsShown);
    return text;
}

} // namespace upgrade

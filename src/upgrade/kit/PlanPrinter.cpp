#include "upgrade/kit/PlanPrinter.h"

#include "instrument/InstrumentName.h"
#include "upgrade/kit/KitPreflight.h"

#include <algorithm>

namespace upgrade {
namespace {

QString shown(const QString &path)
{
    return instrument::PrintablePath(path);
}

// Digits grouped by threes with commas, whatever the locale, so that
// scripts see one format.
QString bytes(qint64 count)
{
    QString digits = QString::number(count);
    for (qsizetype at = digits.size() - 3; at > (digits.startsWith(u'-') ? 1 : 0); at -= 3)
        digits.insert(at, u',');
    return digits;
}

} // namespace

QStringList FormatPlan(const KitPlan &plan)
{
    QStringList lines;
    lines << QStringLiteral("Folders to make where missing (%1):").arg(plan.folders.size());
    for (const PlannedFolder &folder : plan.folders)
        lines << QStringLiteral("  ") + shown(folder.instrumentPath());

    const auto toWrite = std::count_if(plan.nameFiles.cbegin(), plan.nameFiles.cend(),
                                       [](const PlannedNameFile &n) { return n.write; });
    lines << QStringLiteral("MID folders and NAME files to write (%1):").arg(toWrite);
    for (const PlannedNameFile &name : plan.nameFiles) {
        if (name.write)
            lines << QStringLiteral("  %1 (%2)").arg(shown(name.path()), shown(name.moduleName));
    }

    lines << QStringLiteral("Files to send (%1):").arg(plan.files.size());
    qsizetype width = 0;
    for (const PlannedFile &file : plan.files)
        width = std::max(width, bytes(file.size).size());
    for (const PlannedFile &file : plan.files)
        lines << QStringLiteral("  %1  %2").arg(bytes(file.size), int(width)).arg(shown(file.instrumentPath));

    lines << QStringLiteral("Total: %1 bytes in %2 files").arg(bytes(plan.totalBytes)).arg(plan.files.size());
    return lines;
}

} // namespace upgrade

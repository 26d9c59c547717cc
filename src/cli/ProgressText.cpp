#include "cli/ProgressText.h"

#include <algorithm>
#include <cmath>

namespace cli {

QString formatBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(std::max<qint64>(bytes, 0));
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString formatDuration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const qint64 rest = seconds % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

QString progressText(int percent, qint64 copiedBytes, qint64 totalBytes, double seconds)
{
    QString text = QStringLiteral("%1%  %2 of %3").arg(percent, 3).arg(formatBytes(copiedBytes), formatBytes(totalBytes));
    if (copiedBytes <= 0 || seconds <= 0.0)
        return text + QStringLiteral("  -- /s  --:-- left");
    const double rate = double(copiedBytes) / seconds;
    const double left = double(std::max<qint64>(totalBytes - copiedBytes, 0)) / rate;
    return text + QStringLiteral("  %1/s  %2 left").arg(formatBytes(qint64(rate)), formatDuration(qint64(std::ceil(left))));
}

} // namespace cli

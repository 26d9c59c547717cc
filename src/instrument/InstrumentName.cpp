#include "instrument/InstrumentName.h"

#include <algorithm>

namespace instrument {
namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

} // namespace

bool FitsCommandLine(const QString &text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'"' || isControl(c); });
}

QString PrintablePath(const QString &path)
{
    QString shown;
    for (const QChar c : path) {
        if (isControl(c))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace instrument

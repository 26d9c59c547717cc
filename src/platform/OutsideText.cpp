#include "platform/OutsideText.h"

#include <QStringList>

namespace platform {
namespace {

bool hidden(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format;
}

// Calls `each` with every code point of `text` and the UTF-16 units that hold
// it; an unpaired surrogate is a code point of its own.
template <typename Each>
void forEachCodePoint(const QString &text, Each each)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            each(QChar::surrogateToUcs4(c, text.at(i + 1)), QStringView(text).mid(i, 2));
            ++i;
        } else {
            each(char32_t(c.unicode()), QStringView(text).mid(i, 1));
        }
    }
}

} // namespace

QString PrintableText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    forEachCodePoint(text, [&shown](char32_t c, QStringView units) {
        // A line break or tab between two words stands for a space; dropped,
        // it would glue them together ("completed !Please reboot").
        if (c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r')
            shown += u' ';
        else if (!hidden(c))
            shown += units;
    });
    return shown;
}

QString PrintableLines(const QString &text)
{
    QStringList lines = text.split(u'\n');
    for (QString &line : lines)
        line = PrintableText(line);
    return lines.join(u'\n');
}

QByteArray JsonWithoutControls(const QByteArray &json)
{
    const QString text = QString::fromUtf8(json);
    QString escaped;
    escaped.reserve(text.size());
    forEachCodePoint(text, [&escaped](char32_t c, QStringView units) {
        // The writer escapes C0 itself; the line breaks of an indented
        // document stand between its values, where an escape is no JSON.
        if (c < 0x20 || !hidden(c)) {
            escaped += units;
            return;
        }
        for (const QChar unit : units)
            escaped += QStringLiteral("\\u%1").arg(unit.unicode(), 4, 16, QLatin1Char('0'));
    });
    return escaped.toUtf8();
}

} // namespace platform

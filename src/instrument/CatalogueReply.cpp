#include "instrument/CatalogueReply.h"

#include "platform/Exception.h"

#include <QString>

#include <algorithm>
#include <limits>

namespace CatalogueReply {
namespace {

[[noreturn]] void notAnInteger(const QByteArray &text)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text)));
}

int digitValue(char c, int base)
{
    int value = 99;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

} // namespace

qint64 StrToInt64(const QByteArray &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        notAnInteger(text);

    // Decimal values must fit the signed range; hexadecimal ones may use all
    // 64 bits and then read as their two's complement, as the instrument's
    // own number texts do.
    const quint64 limit = base == 16 ? std::numeric_limits<quint64>::max()
                                     : quint64(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0 || value > (limit - quint64(digit)) / quint64(base))
            notAnInteger(text);
        value = value * quint64(base) + quint64(digit);
    }
    return negative ? qint64(0 - value) : qint64(value);
}

qint64 FreeSpace(const QByteArray &reply)
{
    const qsizetype first = reply.indexOf(',');
    const QByteArray rest = reply.mid(first + 1);
    const qsizetype second = rest.indexOf(',');
    const QByteArray field = second < 0 ? QByteArray() : rest.left(second);
    const qint64 value = StrToInt64(field);
    // A negative figure is a drive over 2 GiB seen through a signed 32-bit
    // field; one below that field's range is no figure an instrument sends,
    // and taking it for a huge drive would skip the low-space question.
    if (value < std::numeric_limits<qint32>::min())
        notAnInteger(field);
    return value;
}

bool ListsName(const QByteArray &reply, const QByteArray &name)
{
    return reply.contains('"' + name + '"');
}

bool ListsEntry(const QByteArray &reply, const QByteArray &name)
{
    if (ListsName(reply, name))
        return true;
    // The SCPI form: "name,type,size" with the size in digits. The name is
    // what stands before the last two fields, so that a longer name which
    // only begins with `name` is not taken for it.
    for (qsizetype open = reply.indexOf('"'); open >= 0;) {
        const qsizetype close = reply.indexOf('"', open + 1);
        if (close < 0)
            break;
        const QByteArray quoted = reply.mid(open + 1, close - open - 1);
        const qsizetype sizeComma = quoted.lastIndexOf(',');
        const qsizetype typeComma = sizeComma > 0 ? quoted.lastIndexOf(',', sizeComma - 1) : -1;
        const QByteArray size = quoted.mid(sizeComma + 1);
        const bool digits = !size.isEmpty() && std::all_of(size.cbegin(), size.cend(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (typeComma >= 0 && digits && quoted.left(typeComma) == name)
            return true;
        open = reply.indexOf('"', close + 1);
    }
    return false;
}

} // namespace CatalogueReply

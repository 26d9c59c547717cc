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

namespace CatalogueReply {
namespace {

// Reads the quoted string at `pos` (at its opening quote); moves past it.
std::optional<QByteArray> quotedString(const QByteArray &text, qsizetype &pos)
{
    QByteArray value;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            value += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '"') {
            value += '"';
            ++i;
            continue;
        }
        pos = i + 1;
        return value;
    }
    return std::nullopt;
}

// An unquoted field up to the next comma (or the end); moves past the comma.
QByteArray plainField(const QByteArray &text, qsizetype &pos)
{
    const qsizetype comma = text.indexOf(',', pos);
    const QByteArray field = text.mid(pos, comma < 0 ? -1 : comma - pos).trimmed();
    pos = comma < 0 ? text.size() : comma + 1;
    return field;
}

qint64 sizeField(const QByteArray &text)
{
    const QByteArray digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 18)
        return -1;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
    }
    return digits.toLongLong();
}

void skipBlanks(const QByteArray &text, qsizetype &pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

} // namespace

std::optional<QList<Entry>> Entries(const QByteArray &reply)
{
    QByteArray text = reply;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    const qsizetype first = text.indexOf(',');
    const qsizetype second = first < 0 ? -1 : text.indexOf(',', first + 1);
    if (second < 0)
        return std::nullopt;
    QList<Entry> entries;
    qsizetype pos = second + 1;
    while (true) {
        skipBlanks(text, pos);
        if (pos >= text.size())
            return entries;
        if (text[pos] != '"')
            return std::nullopt;
        const std::optional<QByteArray> quoted = quotedString(text, pos);
        if (!quoted)
            return std::nullopt;
        skipBlanks(text, pos);
        Entry entry;
        const bool more = pos < text.size() && text[pos] == ',';
        qsizetype after = pos + 1;
        skipBlanks(text, after);
        if (more && after < text.size() && text[after] != '"') {
            // "name",type,size
            pos = after;
            entry.name = *quoted;
            entry.type = plainField(text, pos);
            entry.size = sizeField(plainField(text, pos));
        } else {
            // "name,type,size": the name is what lies before the last two
            // commas, so a name may hold commas of its own. A bare "name"
            // carries no size.
            const qsizetype sizeComma = quoted->lastIndexOf(',');
            const qsizetype typeComma = sizeComma <= 0 ? -1 : quoted->lastIndexOf(',', sizeComma - 1);
            if (typeComma < 0) {
                entry.name = *quoted;
            } else {
                entry.name = quoted->left(typeComma);
                entry.type = quoted->mid(typeComma + 1, sizeComma - typeComma - 1).trimmed();
                entry.size = sizeField(quoted->mid(sizeComma + 1));
            }
            if (pos < text.size()) {
                if (text[pos] != ',')
                    return std::nullopt;
                ++pos;
            }
        }
        entries.append(entry);
    }
}

} // namespace CatalogueReply

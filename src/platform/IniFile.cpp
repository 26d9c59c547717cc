#include "platform/IniFile.h"

#include "platform/LocalFolder.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>

namespace platform {
namespace {

QString foldCase(const QString &name)
{
    return name.toCaseFolded();
}

QString stripEnclosingQuotes(const QString &value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

QString limitLength(const QString &value)
{
    if (value.size() <= IniFile::MaxValueLength)
        return value;
    qsizetype length = IniFile::MaxValueLength;
    // Never leave half of a surrogate pair behind.
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

int hexDigitValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

std::optional<quint32> parseHex(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (const QChar c : digits) {
        const int digit = hexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return quint32(value);
}

} // namespace

IniFile::IniFile(const QString &path)
{
    if (!FileExists(path))
        return;
    QFile file(*ResolveLocalPath(path));
    if (!file.open(QIODevice::ReadOnly))
        return;
    read(file.readAll());
}

IniFile IniFile::FromBytes(const QByteArray &bytes)
{
    IniFile profile;
    profile.read(bytes);
    return profile;
}

void IniFile::read(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    parse(decoder.decode(bytes));
    opened = true;
}

void IniFile::parse(const QString &text)
{
    QHash<QString, QString> *current = nullptr;
    const QStringList lines = text.split(u'\n');
    for (const QString &rawLine : lines) {
        QString line = rawLine.trimmed();
        if (line.startsWith(QChar(0xFEFF)))
            line = line.mid(1).trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.lastIndexOf(u']');
            const QString name = (close > 0 ? line.mid(1, close - 1) : line.mid(1)).trimmed();
            const QString folded = foldCase(name);
            // A section named twice keeps its first keys; later ones only add.
            current = &sections[folded];
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!current || equals < 0)
            continue;
        const QString key = foldCase(line.left(equals).trimmed());
        if (key.isEmpty() || current->contains(key))
            continue;
        current->insert(key, line.mid(equals + 1).trimmed());
    }
}

std::optional<QString> IniFile::lookUp(const QString &section, const QString &key) const
{
    const auto s = sections.constFind(foldCase(section));
    if (s == sections.constEnd())
        return std::nullopt;
    const auto k = s->constFind(foldCase(key));
    if (k == s->constEnd())
        return std::nullopt;
    return limitLength(stripEnclosingQuotes(*k));
}

QString IniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    return lookUp(section, key).value_or(defaultValue);
}

qint32 IniFile::ReadInteger(const QString &section, const QString &key, qint32 defaultValue) const
{
    const std::optional<QString> text = lookUp(section, key);
    if (!text)
        return defaultValue;
    return ParseProfileInteger(*text).value_or(defaultValue);
}

bool IniFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::optional<qint32> IniFile::ParseProfileInteger(const QString &text)
{
    QStringView s(text);
    while (!s.isEmpty() && (s.front() == u' ' || s.front() == u'\t'))
        s = s.mid(1);

    if (s.size() > 2 && s.front() == u'0' && (s.at(1) == u'x' || s.at(1) == u'X')) {
        if (const auto value = parseHex(s.mid(2)))
            return qint32(*value);
        return std::nullopt;
    }
    if (s.startsWith(u'$')) {
        if (const auto value = parseHex(s.mid(1)))
            return qint32(*value);
        return std::nullopt;
    }

    bool negative = false;
    if (!s.isEmpty() && (s.front() == u'+' || s.front() == u'-')) {
        negative = s.front() == u'-';
        s = s.mid(1);
    }
    if (s.isEmpty())
        return std::nullopt;
    qint64 magnitude = 0;
    for (const QChar c : s) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > 2147483648LL)
            return std::nullopt;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL)
        return std::nullopt;
    return qint32(value);
}

} // namespace platform

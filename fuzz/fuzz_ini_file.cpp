// The INI reader: the input is a whole vxUpgrade.ini, read the way the
// window reads its module catalogue; then the whole input as an integer
// value, checked against an independent reading.
#include "FuzzInput.h"

#include "platform/IniFile.h"

#include <limits>
#include <optional>

namespace {

std::optional<qint32> referenceInteger(QStringView s)
{
    while (!s.isEmpty() && (s.front() == u' ' || s.front() == u'\t'))
        s = s.mid(1);
    int base = 10;
    bool negative = false;
    if (s.size() > 2 && (s.startsWith(u"0x") || s.startsWith(u"0X"))) {
        base = 16;
        s = s.mid(2);
    } else if (s.startsWith(u'$')) {
        base = 16;
        s = s.mid(1);
    } else if (s.startsWith(u'+') || s.startsWith(u'-')) {
        negative = s.front() == u'-';
        s = s.mid(1);
    }
    if (s.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : s) {
        const int digit = c.isDigit() && c.unicode() < 128 ? c.unicode() - u'0'
            : base == 16 && c.toLower() >= u'a' && c.toLower() <= u'f' && c.unicode() < 128
            ? c.toLower().unicode() - u'a' + 10
            : 99;
        if (digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL)
            return std::nullopt;
    }
    if (base == 16)
        return qint32(quint32(value));
    value = negative ? -value : value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const platform::IniFile ini = platform::IniFile::FromBytes(bytes);
    FUZZ_CHECK(ini.isOpen());
    for (int n = 1; n <= 1000; ++n) {
        const QString section = QStringLiteral("ENTRY %1").arg(n);
        const qint32 id = ini.ReadInteger(section, QStringLiteral("id"), -1);
        if (id == -1)
            break;
        const QString name = ini.ReadString(section, QStringLiteral("name"), QString());
        FUZZ_CHECK(name.size() <= platform::IniFile::MaxValueLength);
        (void)ini.ReadBool(section, QStringLiteral("hasSignal"), false);
    }

    const QString text = QString::fromUtf8(bytes);
    FUZZ_CHECK(platform::IniFile::ParseProfileInteger(text) == referenceInteger(text));
    return 0;
}

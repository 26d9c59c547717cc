// The catalogue reply ("MMEM:CAT?"): its free-space field, the search for
// a quoted name and the entries in either form. The first byte gives the length of the name (0..31), the
// next bytes are the name, the rest is the reply.
#include "FuzzInput.h"

#include "instrument/CatalogueReply.h"
#include "platform/Exception.h"

#include <limits>
#include <optional>
#include <string_view>

namespace {

// An independent reading of the instrument's integer text, in 128 bits.
std::optional<__int128> referenceInteger(std::string_view text)
{
    size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos)
        return std::nullopt;
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-')
        ++i;
    int base = 10;
    if (text.substr(i, 1) == "$") {
        base = 16;
        i += 1;
    } else if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    __int128 value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = 99;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > (__int128(1) << 64))
            return std::nullopt;
    }
    if (base == 10) {
        const __int128 limit = __int128(std::numeric_limits<qint64>::max()) + (negative ? 1 : 0);
        if (value > limit)
            return std::nullopt;
    } else {
        if (value >= (__int128(1) << 64))
            return std::nullopt;
        value = qint64(quint64(value)); // all 64 bits, two's complement
    }
    return negative ? -value : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t nameLength = std::min<std::size_t>(data[0] % 32, size - 1);
    const QByteArray name = fuzzBytes(data + 1, nameLength);
    const QByteArray reply = fuzzBytes(data + 1 + nameLength, size - 1 - nameLength);
    const std::string_view text(reply.constData(), size_t(reply.size()));

    const std::string quoted = '"' + name.toStdString() + '"';
    FUZZ_CHECK(CatalogueReply::ListsName(reply, name) == (text.find(quoted) != std::string_view::npos));

    std::optional<__int128> expected;
    const size_t first = text.find(',');
    const std::string_view rest = first == std::string_view::npos ? text : text.substr(first + 1);
    const size_t second = rest.find(',');
    if (second != std::string_view::npos)
        expected = referenceInteger(rest.substr(0, second));
    if (expected && *expected < std::numeric_limits<qint32>::min())
        expected.reset();
    try {
        const qint64 free = CatalogueReply::FreeSpace(reply);
        FUZZ_CHECK(expected && *expected == free);
    } catch (const EConvertError &) {
        FUZZ_CHECK(!expected);
    }

    // The entries in either form: what was read, written again in the
    // name-then-fields form, reads the same.
    if (const std::optional<QList<CatalogueReply::Entry>> entries = CatalogueReply::Entries(reply)) {
        QByteArray again = "0,0,";
        bool writable = true;
        for (const CatalogueReply::Entry &entry : *entries) {
            FUZZ_CHECK(entry.size >= -1);
            writable = writable && !entry.type.startsWith('"') && !entry.type.contains(',');
            QByteArray name = entry.name;
            name.replace('"', "\"\"");
            again += (again.size() > 4 ? "," : "") + ('"' + name + '"') + ',' + entry.type + ','
                + (entry.size >= 0 ? QByteArray::number(entry.size) : QByteArray());
        }
        if (writable) {
            const std::optional<QList<CatalogueReply::Entry>> reread = CatalogueReply::Entries(again);
            FUZZ_CHECK(reread && reread->size() == entries->size());
            for (qsizetype i = 0; i < entries->size(); ++i) {
                FUZZ_CHECK((*reread)[i].name == (*entries)[i].name);
                FUZZ_CHECK((*reread)[i].size == (*entries)[i].size);
            }
        }
    }
    return 0;
}

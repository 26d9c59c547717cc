#include "fleet/InstrumentAddress.h"

#include "platform/Sockets.h"

namespace fleet {

std::optional<QString> canonicalAddress(const QString &text)
{
    // The C parser behind ParseDottedAddress stops at the first blank and
    // takes what follows as the end, and a NUL ends the text early; neither
    // may let "1.2.3.4 junk" pass as an address.
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || QString::fromLatin1(bytes) != text)
        return std::nullopt;
    for (const char c : bytes) {
        if (c <= ' ' || c > '~')
            return std::nullopt;
    }
    const std::uint32_t address = platform::sock::ParseDottedAddress(bytes);
    if (address == platform::sock::NoAddress)
        return std::nullopt;
    return QString::fromLatin1(platform::sock::DottedAddress(address));
}

} // namespace fleet

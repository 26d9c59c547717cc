// The readers of a signed kit: the input is a whole SHA256.sig (signify's
// embedded form) and, on its own, a public key file and a SHA256 list.
// Whatever the bytes, the readers end, and what they accept keeps their
// promises.
#include "FuzzInput.h"

#include "platform/OutsideText.h"
#include "upgrade/signature/ChecksumList.h"
#include "upgrade/signature/SignifyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);

    const auto signature = upgrade::ParseSignifyEmbedded(bytes);
    FUZZ_CHECK(signature.value.has_value() == signature.error.isEmpty());
    if (signature.value) {
        FUZZ_CHECK(signature.value->keyNumber.size() == 8 && signature.value->signature.size() == 64);
        const QString shown = platform::PrintableText(signature.value->comment);
        for (const QChar c : shown)
            FUZZ_CHECK(c.category() != QChar::Other_Control);
    }
    const auto key = upgrade::ParseSignifyPublicKey(bytes);
    FUZZ_CHECK(key.value.has_value() == key.error.isEmpty());
    if (key.value && signature.value)
        (void)upgrade::VerifySignify(*signature.value, *key.value);

    const upgrade::ChecksumList list = upgrade::ParseChecksumList(bytes);
    FUZZ_CHECK(list.entries.size() == list.digests.size());
    for (const upgrade::ChecksumEntry &entry : list.entries) {
        FUZZ_CHECK(entry.sha256.size() == 32);
        FUZZ_CHECK(upgrade::ChecksumPathProblem(entry.path).isEmpty());
        FUZZ_CHECK(!entry.path.startsWith(u'/') && !entry.path.split(u'/').contains(QStringLiteral("..")));
    }
    // What the reader takes, the writer writes back the same.
    if (list.problems.isEmpty() && !list.tooLarge && !list.entries.isEmpty())
        FUZZ_CHECK(upgrade::ParseChecksumList(upgrade::FormatChecksumList(list.entries)).entries.size()
                   == list.entries.size());
    return 0;
}

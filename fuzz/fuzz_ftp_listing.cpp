// What a server says about itself and its folders: the input, cut into lines
// at each line feed, as a FEAT reply and as the lines of an MLSD listing.
#include "FuzzInput.h"

#include "ftp/FtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input = fuzzBytes(data, size);
    QList<QByteArray> lines;
    for (qsizetype start = 0; start < input.size();) {
        qsizetype end = input.indexOf('\n', start);
        end = end < 0 ? input.size() : end + 1;
        lines.append(input.mid(start, end - start));
        start = end;
    }

    const FtpListing::Features features = FtpListing::ParseFeatures(lines);
    FUZZ_CHECK(!features.mlsdSize || features.mlsd);

    for (const QByteArray &line : std::as_const(lines)) {
        const FtpListing::Line parsed = FtpListing::ParseMlsdLine(line);
        FUZZ_CHECK(!(parsed.entry && !parsed.problem.isEmpty()));
        if (!parsed.entry)
            continue;
        // A name that could reach a memo or a terminal holds no control
        // character and no path; a size is a byte count or unknown.
        const QByteArray name = parsed.entry->name.toUtf8();
        FUZZ_CHECK(!name.isEmpty() && !name.contains('/'));
        for (const char c : name)
            FUZZ_CHECK(uchar(c) >= 0x20 && uchar(c) != 0x7f);
        FUZZ_CHECK(parsed.entry->size >= -1 && parsed.entry->size < 1'000'000'000'000'000'000LL);
    }
    return 0;
}

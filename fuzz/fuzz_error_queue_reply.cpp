// The command channel's reply lines and the error-queue reply
// (":SYSTEM:ERR?"): the input is what the instrument sends, taken byte by
// byte as ReadResponse takes it, with a small line limit so that the limit
// is reached too.
#include "FuzzInput.h"

#include "ftp/ESockError.h"
#include "instrument/CommandReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    constexpr qsizetype Limit = 64;
    QByteArray line;
    auto checkLine = [&](bool ended) {
        FUZZ_CHECK(!line.contains('\0'));
        FUZZ_CHECK(line.size() <= Limit);
        FUZZ_CHECK(line.indexOf('\n') == (ended ? line.size() - 1 : -1));
        FUZZ_CHECK(CommandReply::NoError(line) == (!line.isEmpty() && line[0] == '0'));
    };
    for (std::size_t i = 0; i < size; ++i) {
        try {
            if (CommandReply::TakeByte(line, char(data[i]), Limit)) {
                checkLine(true);
                line.clear();
            }
        } catch (const ESockError &) {
            FUZZ_CHECK(line.size() == Limit && data[i] != 0);
            checkLine(false);
            line.clear(); // the channel is closed; start afresh
        }
    }
    checkLine(false);
    return 0;
}

// The FTP control connection's reply reading: the input is what a server
// sends, cut into lines at each line feed as the socket's line reader hands
// them over, reply after reply; then the whole input as a PASV reply.
#include "FuzzInput.h"

#include "ftp/FTPException.h"
#include "ftp/FtpReply.h"
#include "platform/Exception.h"

#include <cctype>
#include <optional>

namespace {

bool startsWithCode(const QByteArray &line, char follower)
{
    return line.size() >= 4 && std::isdigit(uchar(line[0])) && std::isdigit(uchar(line[1]))
        && std::isdigit(uchar(line[2])) && line[3] == follower;
}

void checkReplyCode(const QByteArray &line)
{
    qsizetype digits = 0;
    long long expected = 0;
    while (digits < line.size() && digits < 10 && std::isdigit(uchar(line[digits])))
        expected = expected * 10 + (line[digits++] - '0');
    try {
        FUZZ_CHECK(FtpReply::ParseReplyCode(line) == expected);
    } catch (const EConvertError &) {
        FUZZ_CHECK(expected > 32767);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input = fuzzBytes(data, size);
    std::optional<FtpReply::Assembler> reply;
    QByteArray first;
    try {
        for (qsizetype start = 0; start < input.size();) {
            const qsizetype lf = input.indexOf('\n', start);
            const qsizetype end = lf < 0 ? input.size() : lf + 1;
            const QByteArray line = input.mid(start, end - start);
            start = end;
            checkReplyCode(line);
            if (!reply || reply->Complete()) {
                first = line;
                reply.emplace(line);
                FUZZ_CHECK(reply->Complete() == !startsWithCode(line, '-'));
            } else {
                reply->Add(line);
                FUZZ_CHECK(reply->Complete() == line.startsWith(first.left(3) + ' '));
            }
        }
    } catch (const FTPException &) {
        // a reply past its bounds
    }

    try {
        const int port = FtpReply::PassivePort(QString::fromUtf8(input));
        FUZZ_CHECK(port >= 0 && port <= 65535);
    } catch (const EConvertError &) {
    }
    return 0;
}

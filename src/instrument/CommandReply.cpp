#include "instrument/CommandReply.h"

#include "ftp/ESockError.h"

namespace CommandReply {

bool TakeByte(QByteArray &line, char byte, qsizetype maxLength)
{
    if (byte == '\0')
        return false;
    if (line.size() >= maxLength)
        throw ESockError(QStringLiteral("The instrument's reply is longer than %1 bytes").arg(maxLength));
    line += byte;
    return byte == '\n';
}

bool NoError(const QByteArray &reply)
{
    return reply.startsWith('0');
}

} // namespace CommandReply

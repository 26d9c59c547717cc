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

bool TakeLine(QByteArray &line, QByteArray &received, qsizetype maxLength)
{
    const qsizetype end = received.indexOf('\n');
    const qsizetype take = end < 0 ? received.size() : end + 1;
    // Byte by byte in memory, so that the length bound and the NUL rule are
    // TakeByte's own; a throw leaves nothing worth keeping (the channel closes).
    bool complete = false;
    for (qsizetype i = 0; i < take; ++i)
        complete = TakeByte(line, received.at(i), maxLength);
    received.remove(0, take);
    return complete;
}

bool NoError(const QByteArray &reply)
{
    return reply.startsWith('0');
}

} // namespace CommandReply

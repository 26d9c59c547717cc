#include "FtpReply.h"

#include "FTPException.h"
#include "platform/Exception.h"

#include <QStringList>

namespace FtpReply {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int portField(const QString &field)
{
    bool ok = false;
    const int value = field.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(field));
    if (value < 0 || value > 255)
        throw EConvertError(QStringLiteral("'%1' is not a valid port number part").arg(field));
    return value;
}

} // namespace

std::int16_t ParseReplyCode(const QByteArray &line)
{
    qsizetype digits = 0;
    while (digits < line.size() && digits < 10 && isDigit(line[digits]))
        ++digits;
    if (digits == 0)
        return 0;
    const qlonglong value = line.left(digits).toLongLong();
    if (value > 32767)
        throw EConvertError(QStringLiteral("'%1' is not a valid reply code")
                                .arg(QString::fromLatin1(line.left(digits))));
    return std::int16_t(value);
}

int CodeOf(const QByteArray &line) noexcept
{
    try {
        return ParseReplyCode(line);
    } catch (...) {
        return -1;
    }
}

// The address in the reply is not used: the data connection goes to the
// host the control connection went to, so a hostile reply cannot point it
// elsewhere.
int PassivePort(const QString &reply)
{
    const QStringList fields = reply.split(QLatin1Char(','));
    if (fields.size() < 6)
        throw EConvertError(QStringLiteral("'%1' is not a valid passive mode reply").arg(reply.trimmed()));
    const QString &last = fields.at(5);
    const qsizetype paren = last.indexOf(QLatin1Char(')'));
    return portField(paren < 0 ? QString() : last.left(paren)) + 256 * portField(fields.at(4));
}

Assembler::Assembler(const QByteArray &firstLine)
{
    count(firstLine);
    if (firstLine.size() >= 4 && isDigit(firstLine[0]) && isDigit(firstLine[1]) && isDigit(firstLine[2])
        && firstLine[3] == '-') {
        lastLineStart = firstLine.left(3) + ' ';
        complete = false;
    }
}

void Assembler::Add(const QByteArray &line)
{
    count(line);
    if (line.startsWith(lastLineStart))
        complete = true;
}

void Assembler::count(const QByteArray &line)
{
    ++lines;
    bytes += line.size();
    // The rest of an over-long reply is never read, so the dialogue cannot
    // go on after this error.
    if (lines > MaxLines)
        throw FTPException(QStringLiteral("FTP reply longer than %1 lines received").arg(MaxLines));
    if (bytes > MaxBytes)
        throw FTPException(QStringLiteral("FTP reply longer than %1 bytes received").arg(MaxBytes));
}

} // namespace FtpReply

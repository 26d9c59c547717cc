// HASH of TNMFTP: the server's own SHA-256 of a stored file.
#include "NMFTPGuarded.h"

#include "FtpReply.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr int Sha256HexDigits = 64;
// A range end beyond this (about 1 EB) is no file's.
constexpr int MaxOffsetDigits = 18;

bool isHex(const QString &text)
{
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

// "213 SHA-256 0-<last byte> <hex> <path>". The path is the server's echo
// and may hold blanks; the tool asked for it, so it is not read.
void readHash(THashReply &result)
{
    const auto malformed = [&result](const QString &why) {
        result.kind = THashReply::Kind::Malformed;
        result.problem = why;
    };
    const QString line = result.replyLine.trimmed();
    if (line.size() < 4 || line.at(3) != u' ')
        return malformed(QStringLiteral("a HASH reply of more than one line"));
    const QStringList fields = line.mid(4).split(u' ', Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return malformed(QStringLiteral("a HASH reply without algorithm, range and digest"));
    if (fields[0].compare(QLatin1String("SHA-256"), Qt::CaseInsensitive) != 0)
        return malformed(QStringLiteral("a HASH reply by another algorithm than SHA-256"));
    const QString &range = fields[1];
    const QString end = range.mid(2);
    if (!range.startsWith(QLatin1String("0-")) || end.isEmpty() || end.size() > MaxOffsetDigits
        || !std::all_of(end.cbegin(), end.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return malformed(QStringLiteral("a HASH reply whose range is not from the file's first byte"));
    const QString &hex = fields[2];
    if (hex.size() != Sha256HexDigits || !isHex(hex))
        return malformed(QStringLiteral("a HASH reply whose digest is no SHA-256"));
    result.kind = THashReply::Kind::Hash;
    result.lastByte = end.toLongLong();
    result.sha256 = QByteArray::fromHex(hex.toLatin1());
}

} // namespace

FtpResult TNMFTP::SelectHashSha256()
{
    // Once taken or declined, asking again would only get the same answer.
    if (const std::optional<QString> &refusal = dialogue.Refusal(FtpExtension::Hash))
        return FtpResult::Failed(FtpResult::Failure::Refused, *refusal);
    if (dialogue.HashIsSha256())
        return FtpResult::Ok();
    QString reply;
    const FtpResult sent = Guarded([&] { reply = SendForReply(QStringLiteral("OPTS HASH SHA-256")); });
    if (!sent.Succeeded())
        return sent;
    if (FtpReply::CommandOkay(ReplyCode)) {
        dialogue.Sha256Selected();
        return FtpResult::Ok();
    }
    if (FtpReply::DeclinesCommand(ReplyCode))
        dialogue.Declined(FtpExtension::Hash, reply);
    return FtpResult::Failed(FtpResult::Failure::Refused, reply);
}

THashReply TNMFTP::FileHash(const QString &remoteFile)
{
    THashReply result;
    if (const std::optional<QString> &refusal = dialogue.Refusal(FtpExtension::Hash)) {
        // Declined as a command: asked again, it would only be refused again.
        result.kind = THashReply::Kind::Refused;
        result.replyLine = *refusal;
        return result;
    }
    result.outcome = Guarded([&] { result.replyLine = SendForReply(QStringLiteral("HASH ") + remoteFile); });
    if (!result.outcome.Succeeded())
        return result;
    const int code = ReplyCode;
    if (FtpReply::GivesFileStatus(code))
        readHash(result);
    else if (FtpReply::ReportsFailure(code))
        result.kind = THashReply::Kind::Refused;
    if (FtpReply::DeclinesCommand(code))
        dialogue.Declined(FtpExtension::Hash, result.replyLine);
    return result;
}

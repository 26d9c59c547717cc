// SIZE of TNMFTP: the size of a file stored on the server.
#include "NMFTPGuarded.h"

#include "FtpReply.h"

namespace {

// "213 <size>": decimal digits only, and few enough to fit; anything else
// is no size the caller may compare with.
qint64 sizeOf(const QString &replyLine)
{
    const QString text = replyLine.mid(4).trimmed();
    if (text.isEmpty() || text.size() > 18)
        return -1;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return -1;
    }
    return text.toLongLong();
}

} // namespace

TSizeReply TNMFTP::FileSize(const QString &remoteFile)
{
    TSizeReply result;
    if (const std::optional<QString> &refusal = dialogue.Refusal(FtpExtension::Size)) {
        // Declined as a command: asked again, it would only be refused again.
        result.kind = TSizeReply::Kind::NotImplemented;
        result.replyLine = *refusal;
        return result;
    }
    result.outcome = Guarded([&] { result.replyLine = SendForReply(QStringLiteral("SIZE ") + remoteFile); });
    if (!result.outcome.Succeeded())
        return result;
    const int code = ReplyCode;
    if (FtpReply::GivesFileStatus(code)) {
        result.size = sizeOf(result.replyLine);
        if (result.size >= 0 && result.replyLine.size() >= 4 && result.replyLine.at(3) == u' ')
            result.kind = TSizeReply::Kind::Size;
        else
            result.size = -1;
    } else if (FtpReply::FileNotFound(code)) {
        result.kind = TSizeReply::Kind::NotFound;
    } else if (FtpReply::DeclinesCommand(code)) {
        result.kind = TSizeReply::Kind::NotImplemented;
        dialogue.Declined(FtpExtension::Size, result.replyLine);
    }
    return result;
}

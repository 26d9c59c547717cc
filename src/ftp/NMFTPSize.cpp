// SIZE of TNMFTP: the size of a file stored on the server.
#include "TNMFTP.h"

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
    const QString command = QStringLiteral("SIZE ") + remoteFile;
    TSizeReply result;
    result.replyLine = SendForReply(command);
    switch (ReplyCode) {
    case 213:
        result.size = sizeOf(result.replyLine);
        if (result.size >= 0 && result.replyLine.size() >= 4 && result.replyLine.at(3) == u' ')
            result.kind = TSizeReply::Kind::Size;
        else
            result.size = -1;
        break;
    case 550:
        result.kind = TSizeReply::Kind::NotFound;
        break;
    case 500:
    case 501:
    case 502:
    case 504:
        result.kind = TSizeReply::Kind::NotImplemented;
        break;
    default:
        break;
    }
    return result;
}

#include "FtpListing.h"

#include "FtpReply.h"

namespace FtpListing {
namespace {

bool hasControlCharacter(const QByteArray &text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

// A decimal size of at most MaxSizeDigits digits; -1 for anything else.
qint64 sizeFact(const QByteArray &value)
{
    if (value.isEmpty() || value.size() > MaxSizeDigits)
        return -1;
    qint64 size = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return -1;
        size = size * 10 + (c - '0');
    }
    return size;
}

} // namespace

Features ParseFeatures(const QList<QByteArray> &replyLines)
{
    Features features;
    if (replyLines.isEmpty() || !FtpReply::ListsFeatures(FtpReply::CodeOf(replyLines.first())))
        return features;
    // The features stand one a line between the first and the last line,
    // each after a space; the first line may name none.
    for (qsizetype i = 1; i + 1 < replyLines.size(); ++i) {
        const QByteArray line = replyLines[i].trimmed();
        const qsizetype blank = line.indexOf(' ');
        const QByteArray name = (blank < 0 ? line : line.left(blank)).toUpper();
        if (name == "MLST") {
            features.mlsd = true;
            // "size*": the fact is in every entry unless the client turns it off.
            const QList<QByteArray> facts = line.mid(blank + 1).toLower().split(';');
            features.mlsdSize = blank > 0 && facts.contains("size*");
        } else if (name == "SIZE") {
            features.size = true;
        } else if (name == "HASH" && blank > 0) {
            // "HASH SHA-256*;SHA-1;MD5": the star marks the selected one.
            for (const QByteArray &algorithm : line.mid(blank + 1).toUpper().split(';')) {
                if (algorithm == "SHA-256" || algorithm == "SHA-256*") {
                    features.hashSha256 = true;
                    features.hashSha256Selected = algorithm.endsWith('*');
                }
            }
        }
    }
    return features;
}

Line ParseMlsdLine(const QByteArray &rawLine)
{
    Line result;
    QByteArray line = rawLine;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    // Fact values hold no blank, so the first blank ends the facts.
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0) {
        result.problem = QStringLiteral("a listing line without a name");
        return result;
    }
    const QByteArray name = line.mid(blank + 1);
    if (name.isEmpty() || name.contains('/')) {
        result.problem = QStringLiteral("a listing line with an empty name or a path");
        return result;
    }
    if (hasControlCharacter(name)) {
        result.problem = QStringLiteral("a name with control characters in the listing");
        return result;
    }

    Entry entry;
    entry.name = QString::fromUtf8(name);
    QByteArray type;
    bool sizeGiven = false;
    for (const QByteArray &fact : line.left(blank).split(';')) {
        if (fact.isEmpty())
            continue;
        const qsizetype equals = fact.indexOf('=');
        if (equals <= 0) {
            result.problem = QStringLiteral("a listing fact without a value");
            return result;
        }
        const QByteArray key = fact.left(equals).toLower();
        const QByteArray value = fact.mid(equals + 1);
        if (key == "type") {
            type = value.toLower();
        } else if (key == "size") {
            entry.size = sizeFact(value);
            sizeGiven = true;
        }
    }
    if (sizeGiven && entry.size < 0) {
        result.problem = QStringLiteral("a size in the listing that is no number of bytes");
        return result;
    }
    if (type == "cdir" || type == "pdir")
        return result;
    entry.folder = type == "dir";
    result.entry = entry;
    return result;
}

} // namespace FtpListing

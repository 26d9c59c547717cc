#include "upgrade/signature/ChecksumList.h"

#include <QStringDecoder>

namespace upgrade {
namespace {

const QByteArray Head = QByteArrayLiteral("SHA256 (");
const QByteArray Separator = QByteArrayLiteral(") = ");
constexpr qsizetype HexBytes = 64;

bool isHex(const QByteArray &text)
{
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// One line without its end; the entry, or why the line is refused.
QString parseLine(const QByteArray &line, ChecksumEntry &entry)
{
    // Taken apart from both ends: a path may itself hold ") = ".
    const qsizetype tail = Separator.size() + HexBytes;
    if (!line.startsWith(Head) || line.size() < Head.size() + 1 + tail
        || line.mid(line.size() - tail, Separator.size()) != Separator)
        return QStringLiteral("not \"SHA256 (path) = digest\"");
    const QByteArray hex = line.right(HexBytes);
    if (!isHex(hex))
        return QStringLiteral("digest is not 64 hexadecimal digits");
    const QByteArray rawPath = line.mid(Head.size(), line.size() - tail - Head.size());
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString path = utf8.decode(rawPath);
    if (utf8.hasError())
        return QStringLiteral("path is not UTF-8");
    if (const QString problem = ChecksumPathProblem(path); !problem.isEmpty())
        return problem;
    entry = ChecksumEntry{path, QByteArray::fromHex(hex)};
    return QString();
}

} // namespace

QString ChecksumPathProblem(const QString &path)
{
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control
            || c.category() == QChar::Other_Format)
            return QStringLiteral("control character in the path");
    }
    if (path.startsWith(u'/') || path.startsWith(u'\\'))
        return QStringLiteral("absolute path");
    for (const QString &part : path.split(u'/')) {
        if (part == QLatin1String(".."))
            return QStringLiteral("path climbs out with \"..\"");
        if (part.isEmpty() || part == QLatin1String("."))
            return QStringLiteral("empty or \".\" component in the path");
    }
    return QString();
}

ChecksumList ParseChecksumList(const QByteArray &bytes)
{
    ChecksumList list;
    if (bytes.size() > MaxChecksumListBytes || bytes.count('\n') > MaxChecksumListLines) {
        list.tooLarge = true;
        return list;
    }
    qsizetype start = 0;
    int number = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        ++number;
        // A list written on Windows ends its lines in CR LF, and signify
        // takes it so; a CR anywhere else stays a control character.
        const qsizetype length = end > start && bytes[end - 1] == '\r' ? end - start - 1 : end - start;
        ChecksumEntry entry;
        const QString problem = parseLine(bytes.mid(start, length), entry);
        start = end + 1;
        if (!problem.isEmpty()) {
            list.problems.append(ChecksumLineProblem{number, problem});
        } else if (list.digests.contains(entry.path)) {
            // Two digests for one file: which one was meant can't be told.
            list.problems.append(ChecksumLineProblem{number, QStringLiteral("path listed twice")});
        } else {
            list.digests.insert(entry.path, entry.sha256);
            list.entries.append(std::move(entry));
        }
    }
    return list;
}

QByteArray FormatChecksumList(const QList<ChecksumEntry> &entries)
{
    QByteArray text;
    for (const ChecksumEntry &entry : entries)
        text += Head + entry.path.toUtf8() + Separator + entry.sha256.toHex() + '\n';
    return text;
}

} // namespace upgrade

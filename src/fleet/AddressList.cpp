#include "fleet/AddressList.h"

#include "platform/Sockets.h"

#include <QFile>

namespace fleet {

namespace {

// A lab's list is a few hundred lines; anything this large is the wrong
// file (a device or a log), and reading it whole must not run away.
constexpr qint64 MaxFileBytes = 1024 * 1024;

} // namespace

QString AddressList::add(const QString &text, const QString &origin)
{
    // One instrument has one spelling here ("127.0.0.02" is 127.0.0.2), so a
    // repeat is caught and the child is handed the plain form.
    const std::optional<QString> address = platform::sock::CanonicalAddress(text);
    if (!address)
        return QStringLiteral("%1: \"%2\" is not an address of four decimal groups of 0 to 255").arg(origin, text);
    const qsizetype earlier = list.indexOf(*address);
    if (earlier >= 0)
        return QStringLiteral("%1: %2 is already given (%3); two runs must never write to one instrument at once")
            .arg(origin, *address, origins[earlier]);
    list << *address;
    origins << origin;
    return {};
}

QString AddressList::addArgument(const QString &text)
{
    return add(text, QStringLiteral("--ip"));
}

QString AddressList::addFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("--ip-file %1: %2").arg(path, file.errorString());
    const QByteArray content = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("--ip-file %1: %2").arg(path, file.errorString());
    if (content.size() > MaxFileBytes)
        return QStringLiteral("--ip-file %1: larger than %2 bytes, not an address list").arg(path).arg(MaxFileBytes);

    const qsizetype before = list.size();
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString error = add(QString::fromUtf8(line), QStringLiteral("%1:%2").arg(path).arg(i + 1));
        if (!error.isEmpty())
            return error;
    }
    if (list.size() == before)
        return QStringLiteral("--ip-file %1: holds no address").arg(path);
    return {};
}

} // namespace fleet

#include "upgrade/DigestCache.h"

#include "upgrade/RunHistory.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QByteArray Header = QByteArrayLiteral("vxupgrade-digests 1");

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

std::optional<FileStamp> FileStamp::of(const QFile &file)
{
    struct stat st {};
    if (file.handle() < 0 || ::fstat(file.handle(), &st) != 0)
        return std::nullopt;
    return FileStamp{qint64(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), quint64(st.st_dev),
                     quint64(st.st_ino)};
}

QString DigestCache::DefaultFile()
{
    return upgrade::RunHistory::StateFolder() + QStringLiteral("/digests");
}

DigestCache::DigestCache(QString file, qint64 settleNs)
    : path(std::move(file))
    , settleNs(settleNs)
{
}

void DigestCache::load()
{
    entries.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readLine().trimmed() != Header)
        return;
    // One "digest size modified changed device inode path" line a file,
    // tab-separated, the path last; a line that doesn't read so is dropped.
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break; // cut short: the rest can't be trusted
        const QList<QByteArray> fields = line.chopped(1).split('\t');
        if (fields.size() != 7)
            continue;
        const QByteArray sha256 = QByteArray::fromHex(fields[0]);
        bool ok[5] = {};
        const FileStamp stamp{fields[1].toLongLong(&ok[0]), fields[2].toLongLong(&ok[1]),
                              fields[3].toLongLong(&ok[2]), fields[4].toULongLong(&ok[3]),
                              fields[5].toULongLong(&ok[4])};
        if (sha256.size() != 32 || fields[0].size() != 64 || !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
            continue;
        entries.insert(QString::fromUtf8(fields[6]), Entry{stamp, sha256, nextOrder++});
    }
}

std::optional<QByteArray> DigestCache::find(const QString &file, const FileStamp &stamp) const
{
    const auto it = entries.constFind(file);
    if (it == entries.cend() || it->stamp != stamp)
        return std::nullopt;
    return it->sha256;
}

void DigestCache::remember(const QString &file, const FileStamp &stamp, const QByteArray &sha256)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    if (now - std::max(stamp.modifiedNs, stamp.changedNs) < settleNs || file.contains(QLatin1Char('\n'))
        || file.contains(QLatin1Char('\t')) || sha256.size() != 32) {
        entries.remove(file);
        return;
    }
    entries.insert(file, Entry{stamp, sha256, nextOrder++});
}

std::optional<QString> DigestCache::save() const
{
    QList<std::pair<qint64, QString>> order;
    order.reserve(entries.size());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        order.append({it->order, it.key()});
    std::sort(order.begin(), order.end());
    if (order.size() > Capacity)
        order.remove(0, order.size() - Capacity);

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("can't make the folder of %1").arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QByteArray text = Header + '\n';
    for (const auto &[_, name] : std::as_const(order)) {
        const Entry &e = entries[name];
        text += e.sha256.toHex() + '\t' + QByteArray::number(e.stamp.size) + '\t'
                + QByteArray::number(e.stamp.modifiedNs) + '\t' + QByteArray::number(e.stamp.changedNs) + '\t'
                + QByteArray::number(e.stamp.device) + '\t' + QByteArray::number(e.stamp.inode) + '\t'
                + name.toUtf8() + '\n';
    }
    if (file.write(text) != text.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

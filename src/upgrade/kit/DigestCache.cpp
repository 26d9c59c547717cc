#include "upgrade/kit/DigestCache.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <algorithm>

#include <sys/stat.h>
#include <time.h>

namespace upgrade {

namespace {

// "vxupgrade-digests 2 <run>"; files of the first form, without the run
// and the entries' last runs, are read as used by the run before this one.
const QByteArray Magic = QByteArrayLiteral("vxupgrade-digests");

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

FileStamp stampOf(const struct stat &st)
{
    return FileStamp{qint64(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), quint64(st.st_dev),
                     quint64(st.st_ino)};
}

} // namespace

std::optional<FileStamp> FileStamp::of(const QFile &file)
{
    struct stat st {};
    if (file.handle() < 0 || ::fstat(file.handle(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

std::optional<FileStamp> FileStamp::atPath(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return stampOf(st);
}

qint64 FileStamp::ageNs() const
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec - std::max(modifiedNs, changedNs);
}

QString DigestCache::BesideHistory(const QString &historyFile)
{
    return QFileInfo(historyFile).dir().filePath(QStringLiteral("digests"));
}

DigestCache::DigestCache(QString file, qint64 settleNs)
    : path(std::move(file))
    , settleNs(settleNs)
{
}

void DigestCache::load()
{
    entries.clear();
    run = 1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> header = file.readLine().trimmed().split(' ');
    bool runOk = false;
    const qint64 savedRun = header.size() == 3 ? header[2].toLongLong(&runOk) : 0;
    const bool first = header.size() == 2 && header[1] == "1";
    if (header.size() < 2 || header[0] != Magic || !(first || (header[1] == "2" && runOk && savedRun >= 0)))
        return;
    run = savedRun + 1;
    const int fieldCount = first ? 7 : 8;
    // One "digest size modified changed device inode [last-run] path" line
    // a file, tab-separated, the path last; a line that doesn't read so is
    // dropped.
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.endsWith('\n'))
            break; // cut short: the rest can't be trusted
        const QList<QByteArray> fields = line.chopped(1).split('\t');
        if (fields.size() != fieldCount)
            continue;
        const QByteArray sha256 = QByteArray::fromHex(fields[0]);
        bool ok[6] = {true, true, true, true, true, true};
        const FileStamp stamp{fields[1].toLongLong(&ok[0]), fields[2].toLongLong(&ok[1]),
                              fields[3].toLongLong(&ok[2]), fields[4].toULongLong(&ok[3]),
                              fields[5].toULongLong(&ok[4])};
        const qint64 lastRun = first ? savedRun : fields[6].toLongLong(&ok[5]);
        if (sha256.size() != 32 || fields[0].size() != 64 || !std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })
            || lastRun > savedRun)
            continue;
        entries.insert(QString::fromUtf8(fields.last()), Entry{stamp, sha256, lastRun, nextOrder++});
    }
}

std::optional<QByteArray> DigestCache::find(const QString &file, const FileStamp &stamp)
{
    const auto it = entries.find(file);
    if (it == entries.end() || it->stamp != stamp)
        return std::nullopt;
    it->lastRun = run;
    it->order = nextOrder++;
    return it->sha256;
}

void DigestCache::remember(const QString &file, const FileStamp &stamp, const QByteArray &sha256)
{
    if (stamp.ageNs() < settleNs || file.contains(QLatin1Char('\n'))
        || file.contains(QLatin1Char('\t')) || sha256.size() != 32) {
        entries.remove(file);
        return;
    }
    entries.insert(file, Entry{stamp, sha256, run, nextOrder++});
}

bool DigestCache::inUse(const QString &file, const Entry &entry) const
{
    // What this run found or learnt was there a moment ago; the rest is
    // looked for.
    return run - entry.lastRun < KeepRuns && (entry.lastRun == run || QFileInfo::exists(file));
}

std::optional<QString> DigestCache::save() const
{
    QList<std::pair<std::pair<qint64, qint64>, QString>> order;
    order.reserve(entries.size());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (inUse(it.key(), *it))
            order.append({{it->lastRun, it->order}, it.key()});
    }
    std::sort(order.begin(), order.end());
    if (order.size() > Capacity)
        order.remove(0, order.size() - Capacity);

    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("can't make the folder of %1").arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Written an entry at a time (the file is buffered): a cache of many
    // thousand files is never held twice, as entries and as text.
    const QByteArray header = Magic + " 2 " + QByteArray::number(run) + '\n';
    if (file.write(header) != header.size())
        return file.errorString();
    for (const auto &[_, name] : std::as_const(order)) {
        const Entry &e = entries[name];
        const QByteArray line = e.sha256.toHex() + '\t' + QByteArray::number(e.stamp.size) + '\t'
                                + QByteArray::number(e.stamp.modifiedNs) + '\t' + QByteArray::number(e.stamp.changedNs)
                                + '\t' + QByteArray::number(e.stamp.device) + '\t' + QByteArray::number(e.stamp.inode)
                                + '\t' + QByteArray::number(e.lastRun) + '\t' + name.toUtf8() + '\n';
        if (file.write(line) != line.size())
            return file.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace upgrade

#include "upgrade/run/Snapshot.h"

#include "platform/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>

namespace upgrade {
namespace {

const QString FolderTimeFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'");
// A manifest is a few lines per file: anything larger is no manifest of ours.
constexpr qint64 MaxManifestBytes = 64 * 1024 * 1024;

// The instrument key is text from the instrument: only a tame form of it
// names a folder, and its digest keeps two keys that tame alike apart.
QString instrumentFolderName(const QString &instrumentKey)
{
    QString tame;
    for (const QChar c : instrumentKey.left(60))
        tame += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' || c == u'.' ? c : QChar(u'_');
    const QByteArray digest = platform::Sha256::of(instrumentKey.toUtf8()).toHex().left(12);
    return tame + QLatin1Char('-') + QString::fromLatin1(digest);
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

// "2026-12-11 13:15:00", "2026-12-11T13:15:00Z", with or without
// milliseconds, or a snapshot folder's name.
std::optional<QDateTime> parseRunTime(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, FolderTimeFormat);
    if (!time.isValid()) {
        QString iso = text.trimmed();
        iso.replace(u' ', u'T');
        if (iso.endsWith(u'Z'))
            iso.chop(1);
        time = QDateTime::fromString(iso, Qt::ISODateWithMs);
        if (!time.isValid())
            time = QDateTime::fromString(iso, Qt::ISODate);
    }
    if (!time.isValid())
        return std::nullopt;
    time.setTimeSpec(Qt::UTC);
    return time;
}

bool sameRun(const QDateTime &started, const QDateTime &named)
{
    // A time named to the second matches the run started in that second.
    if (named.time().msec() == 0)
        return started.toSecsSinceEpoch() == named.toSecsSinceEpoch();
    return started.toMSecsSinceEpoch() == named.toMSecsSinceEpoch();
}

qint64 folderBytes(const QString &folder)
{
    qint64 bytes = 0;
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo &file : files)
        bytes += file.size();
    return bytes;
}

} // namespace

qint64 SnapshotManifest::bytes() const
{
    qint64 total = 0;
    for (const SnapshotFile &file : replaced)
        total += file.size;
    return total;
}

QJsonObject SnapshotManifest::toJson() const
{
    QJsonArray files;
    for (const SnapshotFile &file : replaced)
        files.append(QJsonObject{{"path", file.instrumentPath},
                                 {"size", double(file.size)},
                                 {"sha256", QString::fromLatin1(file.sha256Hex)},
                                 {"stored", file.stored}});
    return QJsonObject{{"snapshot", 1},
                       {"instrument", instrumentKey},
                       {"identity", identity},
                       {"address", address},
                       {"runStarted", isoTime(runStarted)},
                       {"replaced", files},
                       {"created", QJsonArray::fromStringList(created)}};
}

std::optional<SnapshotManifest> SnapshotManifest::fromJson(const QJsonObject &o)
{
    if (o.value("snapshot").toInt() != 1 || !o.value("replaced").isArray() || !o.value("created").isArray())
        return std::nullopt;
    SnapshotManifest m;
    m.instrumentKey = o.value("instrument").toString();
    m.identity = o.value("identity").toString();
    m.address = o.value("address").toString();
    m.runStarted = QDateTime::fromString(o.value("runStarted").toString(), Qt::ISODateWithMs);
    if (m.instrumentKey.isEmpty() || !m.runStarted.isValid())
        return std::nullopt;
    for (const QJsonValue &value : o.value("replaced").toArray()) {
        const QJsonObject f = value.toObject();
        SnapshotFile file{f.value("path").toString(), qint64(f.value("size").toDouble(-1)),
                          f.value("sha256").toString().toLatin1(), f.value("stored").toString()};
        // The stored name must stay inside the snapshot's folder.
        if (!file.instrumentPath.startsWith(QLatin1String("/F0:/")) || file.size < 0 || file.sha256Hex.size() != 64
            || file.stored.isEmpty() || file.stored.contains(u'/') || file.stored.startsWith(u'.'))
            return std::nullopt;
        m.replaced.append(file);
    }
    for (const QJsonValue &value : o.value("created").toArray()) {
        const QString path = value.toString();
        if (!path.startsWith(QLatin1String("/F0:/")))
            return std::nullopt;
        m.created.append(path);
    }
    return m;
}

SnapshotStore::SnapshotStore(const QString &historyFile)
    : rootFolder(QFileInfo(historyFile).absoluteDir().filePath(QStringLiteral("snapshots")))
{
}

QString SnapshotStore::folderFor(const QString &instrumentKey, const QDateTime &runStarted) const
{
    return QDir(rootFolder).filePath(instrumentFolderName(instrumentKey) + QLatin1Char('/')
                                     + runStarted.toUTC().toString(FolderTimeFormat));
}

std::optional<SnapshotManifest> SnapshotStore::readManifest(const QString &folder)
{
    QFile file(QDir(folder).filePath(ManifestName));
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxManifestBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isObject() ? SnapshotManifest::fromJson(document.object()) : std::nullopt;
}

QList<SnapshotStore::Entry> SnapshotStore::snapshots(const QString &instrumentKey) const
{
    QList<Entry> found;
    QStringList instruments;
    if (!instrumentKey.isEmpty())
        instruments << instrumentFolderName(instrumentKey);
    else
        instruments = QDir(rootFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &instrument : std::as_const(instruments)) {
        const QDir dir(QDir(rootFolder).filePath(instrument));
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString folder = dir.filePath(name);
            if (std::optional<SnapshotManifest> manifest = readManifest(folder))
                found.append(Entry{folder, std::move(*manifest)});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Entry &a, const Entry &b) { return a.manifest.runStarted < b.manifest.runStarted; });
    return found;
}

std::optional<SnapshotStore::Entry> SnapshotStore::find(const QString &instrumentKey, const QString &run) const
{
    if (run.isEmpty()) {
        const QList<Entry> own = snapshots(instrumentKey);
        return own.isEmpty() ? std::nullopt : std::optional<Entry>(own.last());
    }
    if (QFileInfo(run).isDir()) {
        if (std::optional<SnapshotManifest> manifest = readManifest(run))
            return Entry{QFileInfo(run).absoluteFilePath(), std::move(*manifest)};
        return std::nullopt;
    }
    const std::optional<QDateTime> named = parseRunTime(run);
    if (!named)
        return std::nullopt;
    // This instrument's first: another one's run of the same second is
    // found only when this one has none, and is then refused by its key.
    for (const QString &key : {instrumentKey, QString()}) {
        const QList<Entry> all = snapshots(key);
        for (auto it = all.crbegin(); it != all.crend(); ++it) {
            if (sameRun(it->manifest.runStarted, *named))
                return *it;
        }
    }
    return std::nullopt;
}

std::optional<QString> SnapshotStore::complete(const QString &folder, const SnapshotManifest &manifest) const
{
    QSaveFile file(QDir(folder).filePath(ManifestName));
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(QJsonDocument(manifest.toJson()).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

QStringList SnapshotStore::prune(int keep, qint64 maxBytes, const QString &spare) const
{
    QStringList removed;
    QList<Entry> all = snapshots();
    const auto remove = [&](const Entry &entry) {
        if (QFileInfo(entry.folder).absoluteFilePath() == QFileInfo(spare).absoluteFilePath())
            return false;
        QDir(entry.folder).removeRecursively();
        removed << entry.folder;
        return true;
    };
    // Per instrument, beyond the newest `keep`.
    QHash<QString, int> newer;
    QList<Entry> kept;
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (++newer[it->manifest.instrumentKey] <= keep || !remove(*it))
            kept.prepend(*it);
    }
    all = kept;
    // Then all of them together, the oldest first.
    qint64 total = 0;
    QList<qint64> sizes;
    for (const Entry &entry : std::as_const(all)) {
        sizes << folderBytes(entry.folder);
        total += sizes.last();
    }
    for (qsizetype i = 0; i < all.size() && total > maxBytes; ++i) {
        if (remove(all[i]))
            total -= sizes[i];
    }
    return removed;
}

} // namespace upgrade

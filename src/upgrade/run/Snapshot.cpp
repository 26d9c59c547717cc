#include "upgrade/run/Snapshot.h"

#include "instrument/InstrumentName.h"
#include "platform/Sha256.h"
#include "upgrade/common/InstrumentLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSaveFile>
#include <QTimeZone>

#include <algorithm>

namespace upgrade {
namespace {

const QString FolderTimeFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'");
// A manifest is a few lines per file: anything larger is no manifest of ours.
constexpr qint64 MaxManifestBytes = 64 * 1024 * 1024;
// Beyond this a size is no file's: it would not even be a whole number as JSON keeps it.
constexpr double MaxFileBytes = 9007199254740992.0;

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

// A snapshot folder's name read as its run's start; invalid for any other name.
QDateTime folderTime(const QString &name)
{
    QDateTime time = QDateTime::fromString(name, FolderTimeFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
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

// Why a manifest's path is none the run could have written: empty when it is
// a plain path under the drive's root, with nothing a command line or a
// listing would read otherwise.
QString snapshotPathFault(const QString &path)
{
    if (!path.startsWith(InstrumentRoot))
        return QStringLiteral("is not under the instrument's drive %1").arg(InstrumentRoot);
    for (const QString &part : path.mid(InstrumentRoot.size()).split(u'/')) {
        if (part.isEmpty() || part == u'.' || part == QLatin1String(".."))
            return QStringLiteral("holds an empty, \".\" or \"..\" part");
    }
    if (!instrument::FitsCommandLine(path))
        return QStringLiteral("holds a double quote or a control character");
    return {};
}

// One kept file of a manifest: empty when its size, digest and stored name
// are whole, or what is wrong with them.
QString readReplaced(const QJsonObject &f, SnapshotFile &file)
{
    const QJsonValue size = f.value("size");
    file = SnapshotFile{f.value("path").toString(), qint64(size.toDouble(-1)), f.value("sha256").toString().toLatin1(),
                        f.value("stored").toString()};
    if (!size.isDouble() || size.toDouble() < 0 || size.toDouble() > MaxFileBytes
        || size.toDouble() != double(file.size))
        return QStringLiteral("has no size a file can have");
    if (!QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QString::fromLatin1(file.sha256Hex)).hasMatch())
        return QStringLiteral("has no SHA-256");
    // The stored name is one this tool gave: a number, inside the folder.
    if (!QRegularExpression(QStringLiteral("^[0-9]{1,9}$")).match(file.stored).hasMatch())
        return QStringLiteral("is stored as \"%1\", no name of a snapshot's own").arg(instrument::PrintablePath(file.stored));
    return {};
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
                       {"created", QJsonArray::fromStringList(created)},
                       {"createdFolders", QJsonArray::fromStringList(createdFolders)}};
}

std::optional<SnapshotManifest> SnapshotManifest::fromJson(const QJsonObject &o, QString &damage)
{
    if (o.value("snapshot").toInt() != 1 || !o.value("replaced").isArray() || !o.value("created").isArray()
        || (o.contains("createdFolders") && !o.value("createdFolders").isArray())) {
        damage = QStringLiteral("its manifest is not one of this tool's");
        return std::nullopt;
    }
    SnapshotManifest m;
    m.instrumentKey = o.value("instrument").toString();
    m.identity = o.value("identity").toString();
    m.address = o.value("address").toString();
    m.runStarted = QDateTime::fromString(o.value("runStarted").toString(), Qt::ISODateWithMs);
    if (m.instrumentKey.isEmpty() || !m.runStarted.isValid()) {
        damage = QStringLiteral("its manifest names no instrument or no run start");
        return std::nullopt;
    }
    // Every path once: a file both put back and removed, or put back twice,
    // is no state the drive was ever in.
    QSet<QString> named;
    const auto bad = [&damage](const QString &list, qsizetype index, const QString &path, const QString &why) {
        damage = QStringLiteral("its manifest's %1 entry %2 (%3) %4")
                     .arg(list)
                     .arg(index + 1)
                     .arg(instrument::PrintablePath(path), why);
        return std::nullopt;
    };
    const auto pathFault = [&named](const QString &path) -> QString {
        if (QString why = snapshotPathFault(path); !why.isEmpty())
            return why;
        if (named.contains(path))
            return QStringLiteral("is named twice");
        named.insert(path);
        return {};
    };
    const QJsonArray replaced = o.value("replaced").toArray();
    for (qsizetype i = 0; i < replaced.size(); ++i) {
        SnapshotFile file;
        const QString why = readReplaced(replaced[i].toObject(), file);
        if (QString pathWhy = pathFault(file.instrumentPath); !pathWhy.isEmpty())
            return bad(QStringLiteral("replaced"), i, file.instrumentPath, pathWhy);
        if (!why.isEmpty())
            return bad(QStringLiteral("replaced"), i, file.instrumentPath, why);
        m.replaced.append(file);
    }
    // createdFolders is absent from a manifest written before folders were
    // kept: none is removed then.
    for (const auto &[list, into] : {std::pair{QStringLiteral("created"), &m.created},
                                     std::pair{QStringLiteral("createdFolders"), &m.createdFolders}}) {
        const QJsonArray paths = o.value(list).toArray();
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const QString path = paths[i].toString();
            if (QString why = pathFault(path); !why.isEmpty())
                return bad(list, i, path, why);
            into->append(path);
        }
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

std::optional<SnapshotManifest> SnapshotStore::readManifest(const QString &folder, QString &damage)
{
    QFile file(QDir(folder).filePath(ManifestName));
    if (!file.exists()) {
        damage = QStringLiteral("it has no manifest (a snapshot never completed)");
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxManifestBytes) {
        damage = QStringLiteral("its manifest can't be read, or is too large to be one (%1)").arg(file.errorString());
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        damage = error.error != QJsonParseError::NoError
                     ? QStringLiteral("its manifest is not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset)
                     : QStringLiteral("its manifest is not one of this tool's");
        return std::nullopt;
    }
    return SnapshotManifest::fromJson(document.object(), damage);
}

QList<SnapshotStore::Entry> SnapshotStore::snapshots(const QString &instrumentKey) const
{
    QList<Entry> found;
    for (const QString &folder : folders(instrumentKey)) {
        QString damage;
        if (std::optional<SnapshotManifest> manifest = readManifest(folder, damage))
            found.append(Entry{folder, std::move(*manifest)});
    }
    std::sort(found.begin(), found.end(),
              [](const Entry &a, const Entry &b) { return a.manifest.runStarted < b.manifest.runStarted; });
    return found;
}

QStringList SnapshotStore::folders(const QString &instrumentKey) const
{
    QStringList instruments;
    if (!instrumentKey.isEmpty())
        instruments << instrumentFolderName(instrumentKey);
    else
        instruments = QDir(rootFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList found;
    for (const QString &instrument : std::as_const(instruments)) {
        const QDir dir(QDir(rootFolder).filePath(instrument));
        // A folder's name is its run's start, so the name order is the runs' order.
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            if (folderTime(name).isValid())
                found << dir.filePath(name);
        }
    }
    return found;
}

SnapshotStore::Found SnapshotStore::open(const QString &folder)
{
    QString damage;
    if (std::optional<SnapshotManifest> manifest = readManifest(folder, damage))
        return Found{Entry{QFileInfo(folder).absoluteFilePath(), std::move(*manifest)}, {}};
    return Found{std::nullopt, QStringLiteral("The snapshot %1 is damaged: %2. Nothing was written.")
                                   .arg(instrument::PrintablePath(folder), damage)};
}

SnapshotStore::Found SnapshotStore::find(const QString &instrumentKey, const QString &run) const
{
    // Never another snapshot than the one named: the operator asked for
    // that state of the drive, and an older one is not it.
    if (run.isEmpty()) {
        const QStringList own = folders(instrumentKey);
        if (own.isEmpty())
            return Found{std::nullopt, QStringLiteral("No snapshot of this instrument (%1) is kept in %2.")
                                           .arg(instrument::PrintablePath(instrumentKey),
                                                instrument::PrintablePath(rootFolder))};
        return open(own.last());
    }
    if (QFileInfo(run).isDir())
        return open(run);
    const std::optional<QDateTime> named = parseRunTime(run);
    const bool exact = folderTime(run).isValid();
    // This instrument's first: another one's run of the same second is
    // found only when this one has none, and is then refused by its key.
    for (const QString &key : {instrumentKey, QString()}) {
        QStringList matching;
        for (const QString &folder : folders(key)) {
            const QDateTime started = folderTime(QFileInfo(folder).fileName());
            if (named && (exact ? started == *named : sameRun(started, *named)))
                matching << folder;
        }
        if (matching.size() == 1)
            return open(matching.first());
        if (matching.size() > 1) {
            QStringList names;
            for (const QString &folder : std::as_const(matching))
                names << QFileInfo(folder).fileName();
            return Found{std::nullopt, QStringLiteral("\"%1\" names %2 snapshots: %3. Name one by its folder's name "
                                                      "(--restore %4). Nothing was written.")
                                           .arg(instrument::PrintablePath(run))
                                           .arg(matching.size())
                                           .arg(names.join(QStringLiteral(", ")), names.last())};
        }
    }
    return Found{std::nullopt, QStringLiteral("No snapshot \"%1\" is kept in %2.")
                                   .arg(instrument::PrintablePath(run), instrument::PrintablePath(rootFolder))};
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

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace upgrade {

// NAME files identify the modules to the instrument: neither a restore nor
// --delete-dropped ever removes one.
[[nodiscard]] bool IsNameFile(const QString &instrumentPath);

// One instrument file as a snapshot kept it.
struct SnapshotFile
{
    QString instrumentPath;
    qint64 size = 0;
    QByteArray sha256Hex; // lower-case, of the bytes fetched
    QString stored;       // its file name inside the snapshot's folder
};

// What a snapshot holds: the files a run was about to replace (or remove),
// as they were, and the files it was about to create, which were absent.
struct SnapshotManifest
{
    QString instrumentKey; // see InstrumentKey
    QString identity;      // the *IDN? reply
    QString address;
    QDateTime runStarted;  // UTC
    QList<SnapshotFile> replaced;
    QStringList created;
    // The folders the run was about to make, absent before it, each after
    // the folder it lies in (the deepest last). Older manifests have none.
    QStringList createdFolders;

    [[nodiscard]] qint64 bytes() const;
    [[nodiscard]] QJsonObject toJson() const;
    // Checks the whole manifest before anything trusts a part of it: every
    // path a plain one under the drive's root, named once; every size a
    // whole number; every stored name one of ours. Nothing, with `damage`
    // saying what is wrong, when it is no manifest of ours.
    [[nodiscard]] static std::optional<SnapshotManifest> fromJson(const QJsonObject &object, QString &damage);
};

// The snapshots beside a history: "snapshots/<instrument>/<run start>/",
// each a folder of fetched files and its manifest. A folder without a
// manifest is a snapshot still being taken (or one that failed): it is
// never restored from, and never counted.
class SnapshotStore
{
public:
    explicit SnapshotStore(const QString &historyFile);

    static constexpr int DefaultKeep = 3;
    static constexpr qint64 DefaultMaxBytes = qint64(2) * 1024 * 1024 * 1024;
    static inline const QString ManifestName = QStringLiteral("manifest.json");

    [[nodiscard]] QString root() const { return rootFolder; }
    // The folder for a run of that instrument started then.
    [[nodiscard]] QString folderFor(const QString &instrumentKey, const QDateTime &runStarted) const;

    struct Entry
    {
        QString folder;
        SnapshotManifest manifest;
    };
    // The complete snapshots of that instrument (every instrument when
    // the key is empty), oldest first.
    [[nodiscard]] QList<Entry> snapshots(const QString &instrumentKey = QString()) const;
    // The snapshot named by `run`: a snapshot folder, or its run's start
    // ("2026-12-11 13:15:00", "2026-12-11T13:15:00Z" or the folder's name),
    // of any instrument. Empty `run`: the last of that instrument. Never
    // another than the one named: when that one is damaged, or the time
    // names two, `refusal` says so.
    struct Found
    {
        std::optional<Entry> entry;
        QString refusal;
    };
    [[nodiscard]] Found find(const QString &instrumentKey, const QString &run) const;
    // Writes the manifest last, so that the folder counts only once whole.
    [[nodiscard]] std::optional<QString> complete(const QString &folder, const SnapshotManifest &manifest) const;
    // Housekeeping: at most `keep` snapshots per instrument, and all of them
    // together within `maxBytes`, the oldest going first; `spare`, the one
    // just taken, is never removed. Returns the folders removed.
    QStringList prune(int keep, qint64 maxBytes, const QString &spare) const;

    [[nodiscard]] static std::optional<SnapshotManifest> readManifest(const QString &folder, QString &damage);

private:
    // The snapshot folders of that instrument (every one's when empty), by
    // name: oldest first, complete or not.
    [[nodiscard]] QStringList folders(const QString &instrumentKey) const;
    [[nodiscard]] static Found open(const QString &folder);

    QString rootFolder;
};

} // namespace upgrade

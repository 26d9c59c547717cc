#pragma once

#include "upgrade/kit/DigestCache.h"
#include "upgrade/common/ModuleEntry.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>

namespace upgrade {

// An instrument folder the run makes when it is missing.
struct PlannedFolder
{
    QString parent;    // the instrument folder it is made in
    QString name;
    QString localPath; // the local folder it mirrors
    int module = -1;   // index of its module in the catalogue; -1 for the system files
    // The SIGNAL folder directly in a module's folder, which the copy passes
    // over when the module's box was unticked by the time it gets there.
    bool moduleSignal = false;
    [[nodiscard]] QString instrumentPath() const;
};

// One entry of the kit in the order the copy meets it: the copy goes down
// this list instead of walking the kit again.
struct KitStep
{
    enum class Kind : quint8 {
        Folder,         // plan.folders[index]
        File,           // plan.files[index]
        UntickedSignal, // plan.untickedSignals[index]
    };
    Kind kind = Kind::File;
    qsizetype index = 0;
};

// A file the run sends: what was read now is what the run will claim it sent.
struct PlannedFile
{
    QString localPath;
    QString instrumentPath;
    qint64 size = 0;   // bytes read for the digest
    QByteArray sha256; // raw digest of those bytes
    int module = -1;
    // The file's status when those bytes were read: as long as it holds, the
    // file still has them.
    FileStamp stamp;
    // The file had last been written well before it was read, so that a
    // later write can't leave its times as they were (a clock that ticks
    // coarsely stamps writes close together alike): the stamp alone vouches
    // for the content.
    bool stampSettled = false;
};

// A module's identification folder and NAME file, as the NAME step makes
// them. `write` is true unless someone found the NAME file already there
// (the step never rewrites one).
struct PlannedNameFile
{
    qint32 id = 0;
    QString moduleName;
    QString folder; // "/F0:/SYSTEM/MID<id>"
    bool write = true;
    [[nodiscard]] QString path() const { return folder + QStringLiteral("/NAME"); }
};

// Something in the kit that would stop the run part-way, found before
// anything is written.
struct KitProblem
{
    QString localPath;
    QString what;   // "Folder can't be listed"
    QString detail; // the system's words, when there are some
    // One line: what, the path (control characters shown as \xNN), detail.
    [[nodiscard]] QString text() const;
};

struct KitPlan
{
    QString kitFolder;
    QList<PlannedNameFile> nameFiles; // catalogue order
    QList<PlannedFolder> folders;     // in copy order: each before what lies in it
    QList<PlannedFile> files;         // in copy order
    qint64 totalBytes = 0;
    QList<KitProblem> problems;       // every one, in walk order
    QList<KitStep> steps;             // every folder and file above, and the unticked SIGNAL folders, in copy order
    // A module's SIGNAL folder whose box was not ticked: not read, and
    // copied (read then, as a late file is) only when the box is ticked by
    // the time the copy reaches it.
    QList<PlannedFolder> untickedSignals;
    // Every file below "target" and "MainFrame", whatever the run does with
    // it (a folder no catalogue entry names, an unticked SIGNAL folder): a
    // phase of the copy runs when its trees hold any file.
    qint64 moduleTreeFiles = 0;
    qint64 systemTreeFiles = 0;
    // Folders outside the plan that can't be listed: no problem for the
    // kit, since nothing of them is sent, but the copy names them. In the
    // order of the entries of "target".
    QList<KitProblem> unlistedOutsidePlan;
    // How the digests were had: read now, or taken from the cache.
    qint64 bytesDigested = 0;
    int digestsFromCache = 0;
    QHash<QString, qsizetype> fileIndex; // local path to its place in `files`

    [[nodiscard]] bool sendable() const { return problems.isEmpty(); }
    // The planned file read from `localPath`; null when there is none.
    [[nodiscard]] const PlannedFile *file(const QString &localPath) const;
    // Lower-case hex SHA-256 over the files sorted by their place on the
    // drive (below "/F0:/"), one "place\nsize\nhex digest\n" each: the same
    // kit gives the same digest wherever it lies locally.
    [[nodiscard]] QByteArray kitDigest() const;
};

// One walk over the kit in the program folder, before anything is written:
// each catalogued module's tree from "target" (its SIGNAL folder only when
// the module is ticked) and "MainFrame", by the rules of the copy (names
// beginning with "." skipped at every depth, local names matched without
// regard to case). It reads every file it will send and finds every
// problem, not only the first. The rest of "target" is only counted. The
// plan it makes is the one list of the kit: the copy sends from it and the
// copy's phases are decided by its counts.
//
// With a cache, a file whose identity (path, size, times, inode) is cached
// is not read again; the cache learns the digests read.
//
// Once `cancel` is set the walk stops at the next entry and the plan is
// incomplete: it is for a caller that no longer wants it.
[[nodiscard]] KitPlan CheckKit(const QString &programFolder, const ModuleList &modules,
                               DigestCache *cache = nullptr, const std::atomic<bool> *cancel = nullptr);

// Reads a file that the copy reaches and pre-flight did not plan (a SIGNAL
// folder whose box was ticked during the copy) as pre-flight reads one, and
// adds it to `plan`. Null, with the problem added, when it can't be read.
[[nodiscard]] const PlannedFile *PlanLateFile(KitPlan &plan, const QString &localPath,
                                              const QString &instrumentPath);

} // namespace upgrade

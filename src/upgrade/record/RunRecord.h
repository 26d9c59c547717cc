#pragma once

#include "upgrade/common/ModuleEntry.h"
#include "upgrade/common/RunVocabulary.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace upgrade {

// The record's top-level field names, as the history holds them: the
// writer and the readers (history, send index, fleet, fleet page) all
// name a field by these.
namespace recordfield {
inline constexpr QLatin1String Record{"record"};
inline constexpr QLatin1String Started{"started"};
inline constexpr QLatin1String Ended{"ended"};
inline constexpr QLatin1String Tool{"tool"};
inline constexpr QLatin1String User{"user"};
inline constexpr QLatin1String Host{"host"};
inline constexpr QLatin1String Address{"address"};
inline constexpr QLatin1String Identity{"identity"};
inline constexpr QLatin1String Kit{"kit"};
inline constexpr QLatin1String Modules{"modules"};
inline constexpr QLatin1String Free{"free"};
inline constexpr QLatin1String Files{"files"};
inline constexpr QLatin1String KitDigest{"kitDigest"};
inline constexpr QLatin1String Outcome{"outcome"};
inline constexpr QLatin1String Step{"step"};
inline constexpr QLatin1String Message{"message"};
// Absent unless a success has something to add.
inline constexpr QLatin1String Note{"note"};
inline constexpr QLatin1String Bytes{"bytes"};
inline constexpr QLatin1String Seconds{"seconds"};
inline constexpr QLatin1String DryRun{"dryRun"};
inline constexpr QLatin1String SignerKey{"signerKey"};
inline constexpr QLatin1String SignerComment{"signerComment"};
// A crashed run's, written by its fleet: how the child ended ("signal 11").
inline constexpr QLatin1String ChildExit{"childExit"};
// With --await-reboot: "confirmed" or "not confirmed: ..."; absent otherwise.
inline constexpr QLatin1String Reboot{"reboot"};
// With --verify: the audit's findings ("counts", "clean", ...); absent otherwise.
inline constexpr QLatin1String Audit{"audit"};
// With --backup: the snapshot folder; absent otherwise.
inline constexpr QLatin1String Snapshot{"snapshot"};
// With --restore: the snapshot put back; absent otherwise.
inline constexpr QLatin1String Restore{"restore"};
// Files removed from the instrument (path, size, sha256); absent when none.
inline constexpr QLatin1String Deleted{"deleted"};
// The FTP sessions the copy ran on; absent when no copy began (and in
// records older than the field). With --sessions auto, "sessionsAuto".
inline constexpr QLatin1String Sessions{"sessions"};
inline constexpr QLatin1String SessionsAuto{"sessionsAuto"};

// The fields of each entry of "files" ("deleted" holds the first three).
namespace file {
inline constexpr QLatin1String Path{"path"};
inline constexpr QLatin1String Size{"size"};
inline constexpr QLatin1String Sha256{"sha256"};
inline constexpr QLatin1String Outcome{"outcome"};
// A file left on the instrument: why, and when the run that sent it started.
inline constexpr QLatin1String Already{"already"};
inline constexpr QLatin1String VerifiedOn{"verifiedOn"};
} // namespace file

// The fields of each entry of "modules".
namespace module {
inline constexpr QLatin1String Id{"id"};
inline constexpr QLatin1String Name{"name"};
inline constexpr QLatin1String Ticked{"ticked"};
} // namespace module

// The fields of "audit", and the verdicts that "counts" counts by name.
namespace audit {
inline constexpr QLatin1String Counts{"counts"};
inline constexpr QLatin1String Strict{"strict"};
inline constexpr QLatin1String Clean{"clean"};
inline constexpr QLatin1String Method{"method"};
inline constexpr QLatin1String NotMatching{"notMatching"};
// Set when the audit could not compare the drive with the kit.
inline constexpr QLatin1String Problem{"problem"};
// The fields of each entry of "notMatching".
inline constexpr QLatin1String Path{"path"};
inline constexpr QLatin1String Verdict{"verdict"};
inline constexpr QLatin1String KitSize{"kitSize"};
inline constexpr QLatin1String DriveSize{"driveSize"};
inline constexpr QLatin1String Why{"why"};

inline constexpr QLatin1String Matches{"matches"};
inline constexpr QLatin1String UnknownOrigin{"unknown-origin"};
inline constexpr QLatin1String Differs{"differs"};
inline constexpr QLatin1String Missing{"missing"};
inline constexpr QLatin1String Extra{"extra"};
inline constexpr QLatin1String SizeUnknown{"size-unknown"};
} // namespace audit
} // namespace recordfield

struct KitPlan;
struct PlannedFile;

struct RecordedFile
{
    QString instrumentPath;
    qint64 size = 0;
    QByteArray sha256; // lower-case hex
    FileOutcome outcome = FileOutcome::NotSent;
    // AlreadyThere: when the run that sent it started.
    QDateTime verifiedOn = {};
};
// "already there (verified on 2026-12-10 09:41:07 UTC)".
[[nodiscard]] QString AlreadyThereText(const QDateTime &verifiedOn);

struct RecordedModule
{
    qint32 id = 0;
    QString name;
    bool ticked = false; // its SIGNAL folder is part of the run
};

// One run as it goes on record: who ran what against which instrument,
// which files it meant to send and what became of each, and how it ended.
struct RunRecord
{
    QDateTime started; // UTC
    QDateTime ended;   // UTC
    QString toolVersion;
    QString user;
    QString host;
    QString address;
    QString identity; // the *IDN? reply, line end removed
    QString kitFolder;
    QList<RecordedModule> modules;
    std::optional<qint64> freeSpace; // as the instrument reported it; none if never asked
    QList<RecordedFile> files;
    QByteArray kitDigest; // lower-case hex, empty without a checked kit
    QString outcome;      // "succeeded", "failed", "declined", "stopped" or "crashed"
    QString step;         // the step the run ended in
    QString message;
    QString note;         // with a success: what went wrong that did not stop it
    qint64 bytes = 0;     // bytes sent
    double seconds = 0;
    bool dryRun = false;
    // A crashed run only, whose record its fleet wrote: how its process
    // ended ("signal 9", "exit status 2").
    QString childExit;
    // The signed kit's signer: the key number in lower-case hex and the
    // signature's untrusted comment; empty when no trusted key vouched for it.
    QByteArray signerKey;
    QString signerComment;
    // After --await-reboot: "confirmed", or "not confirmed: " and why.
    // Empty when the restart was not awaited.
    QString reboot;
    // An audit (vxupgrade-cli --verify), which wrote nothing: what it found
    // (counts, how the drive was seen, every path not matching); empty for
    // any other run.
    QJsonObject audit;
    // --backup: the snapshot folder of what the run replaced; empty without one.
    QString snapshot;
    // --restore: the snapshot put back; empty for any other run.
    QString restoredFrom;
    // --delete-dropped (and a restore's removals): every file removed from
    // the instrument, with the size and SHA-256 last verified there.
    QList<RecordedFile> deleted;
    // The FTP sessions the copy sent on, the link's own included; 0 when
    // no copy began. automatic: the number was found by --sessions auto.
    int sessions = 0;
    bool sessionsAuto = false;

    // A record of a run starting now, by this user on this host with this
    // version of the tool.
    [[nodiscard]] static RunRecord begin();
    // The catalogue with its ticks as the run found it.
    void takeModules(const ModuleList &catalogue);
    // Every file of the checked kit, not sent yet, and the kit's digest.
    void takePlan(const KitPlan &plan);
    // A file planned after the others, not sent yet.
    void addPlanned(const PlannedFile &file);
    // Marks the planned file of that instrument path; false if none is.
    bool setOutcome(const QString &instrumentPath, FileOutcome outcome);
    // Marks it AlreadyThere, sent and verified by the run started then.
    bool setAlreadyThere(const QString &instrumentPath, const QDateTime &verifiedOn);
    // Marks the end: now, and the seconds since started.
    void finish(const QString &outcome, const QString &step, const QString &message);

    [[nodiscard]] QJsonObject toJson() const;
    // One line of JSON, no line end.
    [[nodiscard]] QByteArray toJsonLine() const;
    // Takes the next piece of a line; false stops the writing.
    using JsonSink = std::function<bool(QByteArrayView piece)>;
    // The same line handed over in pieces of some KiB, so that a record of
    // many thousand files is never held whole in memory, as a document or
    // as text. False when the sink stopped it.
    [[nodiscard]] bool writeJsonLine(const JsonSink &sink) const;
    // Nothing when the object is no run record.
    [[nodiscard]] static std::optional<RunRecord> fromJson(const QJsonObject &object);
    // A record's "files"; nothing when an entry is none.
    [[nodiscard]] static std::optional<QList<RecordedFile>> filesFromJson(const QJsonArray &files);

private:
    // Everything but the files.
    [[nodiscard]] QJsonObject headJson() const;
    [[nodiscard]] static QJsonObject fileJson(const RecordedFile &file);
};

// A record as a reader that wants the files of a few records only is handed
// it: the files array of a long line is read only when asked for, which
// spares most of the reading of a long history.
struct VisitedRecord
{
    RunRecord record; // its files left empty when `filesJson` holds them
    QByteArray filesJson;

    // The record's files, read from the line now if they were left there;
    // none when they can't be read.
    [[nodiscard]] QList<RecordedFile> files() const;
};

} // namespace upgrade

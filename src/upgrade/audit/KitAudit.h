#pragma once

#include "upgrade/kit/KitPreflight.h"
#include "upgrade/drive/DriveLookup.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>


namespace upgrade {

class SendIndex;

// What an audit found for one path of the kit's folders on the instrument.
enum class AuditVerdict {
    Matches,       // at the kit's size, and this very content was verified there by a run on record
    UnknownOrigin, // at the kit's size, but no verified send of this content is on record
    Differs,       // another size, or the last verified send there carried other content
    Missing,       // not on the drive
    Extra,         // on the drive in a kit folder, not in the kit
    SizeUnknown,   // maybe there, but nothing on the instrument tells its size
};
// "matches", "same size, origin unknown", "differs", "missing", "extra",
// "size unknown".
[[nodiscard]] QString AuditVerdictText(AuditVerdict verdict);
// The JSON name: "matches", "unknown-origin", "differs", "missing", "extra",
// "size-unknown".
[[nodiscard]] QString AuditVerdictKey(AuditVerdict verdict);

struct AuditedFile
{
    QString instrumentPath; // a folder ends with "/"
    AuditVerdict verdict = AuditVerdict::Missing;
    qint64 kitSize = -1;   // -1 for an extra
    qint64 driveSize = -1; // -1 when missing or not known
    QString why;           // what more there is to say, for the operator
    QDateTime verifiedOn;  // Matches: the run that sent and verified it
};

struct AuditReport
{
    QList<AuditedFile> files; // the kit's files in copy order, then the extras
    QString method;           // how the drive was seen, one line
    // The audit could not read the drive as a run must: a listing refused
    // or not to be trusted. The files found before it are kept.
    QString problem;

    [[nodiscard]] int count(AuditVerdict verdict) const;
    // Everything matches (unknown origin and size too, unless strict);
    // extras never count.
    [[nodiscard]] bool clean(bool strict) const;
    // Nothing could be told of any of the kit's files: every one is "size
    // unknown". Such an audit was not made.
    [[nodiscard]] bool toldNothing() const;
    // What goes on record: the counts, how the drive was seen, and every
    // path that does not match.
    [[nodiscard]] QJsonObject toJson(bool strict) const;
};

// Looks at what the instrument holds where the kit would write, without
// writing, by asking the run's drive lookup. Whether a
// file of the right size is the kit's content comes from the server's own
// SHA-256 (HASH) where it offers one; else from the history: only a
// verified send of this content to this instrument vouches for it, and a
// same-size change made on the drive by someone else can't be seen.
class KitAudit
{
public:
    // `index` may be null: no history, so nothing is known to match.
    KitAudit(DriveLookup &drive, const SendIndex *index, QString instrumentKey);

    [[nodiscard]] AuditReport run(const KitPlan &plan);

private:
    void auditFile(const PlannedFile &file, AuditReport &report);
    // The server's HASH of a file at the kit's size against the kit's
    // SHA-256: nothing when the server would not hash it (the history then
    // decides), or when the reply can't be trusted (report.problem says why).
    [[nodiscard]] std::optional<bool> sameByHash(const PlannedFile &file, AuditReport &report);
    void addExtras(const QString &folder, const KitPlan &plan, AuditReport &report);
    // What the drive holds at the path; nothing when the drive could not be
    // read (report.problem then says why).
    [[nodiscard]] std::optional<DriveAnswer> onDrive(const QString &instrumentPath, AuditReport &report);
    void used(const DriveAnswer &answer);
    void used(const QString &how);

    DriveLookup &drive;
    const SendIndex *index;
    QString instrumentKey;
    QStringList ways;
};

} // namespace upgrade

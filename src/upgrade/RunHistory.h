#pragma once

#include "upgrade/HistoryFile.h"
#include "upgrade/ModuleEntry.h"
#include "upgrade/RunVocabulary.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace upgrade {

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

// The runs on record: one JSON object a line, appended under an exclusive
// lock so that runs in parallel never mix their lines. Past its limit the
// file is rotated, and a few older files are kept beside it; reading goes
// across them, newest first, and stops as soon as it has what was asked.
class RunHistory
{
public:
    // $XDG_STATE_HOME/vxupgrade (or ~/.local/state/vxupgrade): the history
    // and what is kept beside it; `environment` is the process's own unless
    // a caller hands another.
    [[nodiscard]] static QString StateFolder(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // StateFolder()/history.jsonl.
    [[nodiscard]] static QString DefaultFile(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    explicit RunHistory(QString file = DefaultFile(), HistoryLimits limits = {});

    // Appends one record; nothing on success, else why not, in a few words
    // for one memo line. A record is written whole or not at all.
    [[nodiscard]] std::optional<QString> append(const RunRecord &record) const;

    struct Reading
    {
        QList<RunRecord> records; // oldest first
        int unreadableLines = 0;
        std::optional<QString> error; // the history exists but can't be read
    };
    // The records of one instrument address (every one when empty), the
    // last `last` of them (all when 0 or less), from the oldest kept file to
    // the current one. A missing history has none. Lines that are no record
    // are counted among the lines read; with `last`, reading stops early.
    [[nodiscard]] Reading read(const QString &address = QString(), int last = 0) const;

    struct Visit
    {
        qint64 records = 0;
        int unreadableLines = 0;
        std::optional<QString> error; // the history exists but can't be read
    };
    // Hands each record to `take`, newest first (the current file, then the
    // kept ones), one at a time, so that a reader that keeps only what it
    // needs never holds the whole history; `take` returns false to stop
    // there. A missing history has none.
    [[nodiscard]] Visit visit(const std::function<bool(RunRecord &&)> &take) const;
    // The same, with each record's files read only when asked for. A file
    // entry that is none makes its line no record only then.
    [[nodiscard]] Visit visitFilesOnDemand(const std::function<bool(VisitedRecord &&)> &take) const;

    [[nodiscard]] QString fileName() const { return path; }

private:
    // With a wanted address, lines that surely hold another instrument's
    // record are skipped before they are parsed.
    [[nodiscard]] Visit walk(bool filesOnDemand, const QString &wantedAddress,
                             const std::function<bool(VisitedRecord &&)> &take) const;

    QString path;
    HistoryLimits limits;
};

// The records as a table for a terminal: time, instrument, identity, kit
// digest in short, outcome, files, duration; a header line first.
[[nodiscard]] QStringList FormatHistoryTable(const QList<RunRecord> &records);

} // namespace upgrade

#pragma once

#include "upgrade/record/RunHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

namespace report {

// Where an instrument stands, by what its latest upgrade or audit said.
enum class RowState { UpToDate, Drifted, Failed, NotConfirmed, Unknown };

// "up to date", "drifted", "failed", "not confirmed", "unknown".
[[nodiscard]] QString StateWord(RowState state);
// One character for each state, so that the page reads without colour.
[[nodiscard]] QString StateSymbol(RowState state);
// The word as a CSS class and JSON value: "up-to-date", ...
[[nodiscard]] QString StateKey(RowState state);

// One run in an instrument's timeline.
struct TimelineEntry
{
    QDateTime started;
    QString kind; // "upgrade", "audit" or "dry run"
    QString outcome;
    QString step;
    QString message;
    QString note;
    QString reboot;
    QString address;
    QString host;
    QByteArray kitDigest;
    // The files that failed to send, or that the audit found not matching:
    // "path: verdict"; at most MaxFilesShown, the rest counted.
    QStringList files;
    int moreFiles = 0;
};

struct AuditSummary
{
    QDateTime started;
    // "matches the kit", "found changes", "could not be made: ...".
    QString verdict;
    QMap<QString, int> counts; // by the audit's verdict keys ("differs", ...)
};

// One instrument, known by manufacturer, model and serial.
struct InstrumentRow
{
    QString key;
    QString manufacturer;
    QString model;
    QString serial;
    QStringList addresses; // sorted
    QString identity;      // its latest *IDN? reply
    QDateTime lastSeen;    // the latest run that heard that reply
    // The kit of its latest successful upgrade; empty when none is on record.
    QByteArray kitDigest;
    QString signerComment;
    QDateTime kitSince;
    QString kitVerified; // "8 of 8 files verified", ...
    QDateTime lastUpgrade;
    QString lastUpgradeOutcome;
    QString lastUpgradeMessage;
    std::optional<AuditSummary> lastAudit;
    QString reboot; // the restart verdict of its latest upgrade, when awaited
    int runs = 0;
    int failures = 0;
    RowState state = RowState::Unknown;
    QList<TimelineEntry> timeline; // newest first, at most MaxTimeline
    int earlierRuns = 0;           // runs left out of the timeline
};

struct KitCount
{
    QByteArray kitDigest;
    QString signerComment;
    int instruments = 0;
};

struct SourceFile
{
    QString file;
    qint64 records = 0;
    int damagedLines = 0;
};

// What the page shows, and --json prints.
struct FleetView
{
    QDateTime generated;
    QDateTime since; // invalid: the whole history
    QList<SourceFile> sources;
    QList<KitCount> kits; // most instruments first
    int recentRuns = 0;
    int recentFailures = 0;
    int recentAuditsWithChanges = 0;
    QStringList notSeen; // keys of rows not heard from in RecentDays
    QList<InstrumentRow> rows; // by key

    [[nodiscard]] QJsonObject toJson() const;
};

// Reads runs on record, in any order and from any number of histories, into
// one row per instrument. Holds per instrument only what the view needs, so
// that a history of any length fits in little memory.
class FleetModel
{
public:
    static constexpr int RecentDays = 30;
    static constexpr int MaxTimeline = 25;
    static constexpr int MaxFilesShown = 20;

    // `now` marks the recent days; runs started before `since` are left out.
    explicit FleetModel(QDateTime now, QDateTime since = {});
    ~FleetModel();
    FleetModel(const FleetModel &) = delete;
    FleetModel &operator=(const FleetModel &) = delete;

    // A record as the history hands it, its files read only if needed.
    void add(const upgrade::VisitedRecord &visited);
    void add(const upgrade::RunRecord &record);
    void addSource(const SourceFile &source);

    [[nodiscard]] FleetView view() const;

private:
    struct Tally;

    QDateTime now;
    QDateTime since;
    QList<SourceFile> sources;
    std::map<QString, std::unique_ptr<Tally>> identified; // by instrument key
    // Runs that never heard an identity (no connection): by address, to be
    // given to the one instrument known there.
    std::map<QString, std::unique_ptr<Tally>> unidentified;
    int recentRuns = 0;
    int recentFailures = 0;
    int recentAuditsWithChanges = 0;
    // *IDN? reply and address to instrument key: most runs repeat them.
    QHash<QString, QString> keys;
};

} // namespace report

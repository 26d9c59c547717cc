#pragma once

#include "fleet/InstrumentState.h"
#include "upgrade/record/RunRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace fleet {

// The keys of a run's record that the fleet reads or, for a child that sent
// none, writes: the record's own.
namespace recordkey = upgrade::recordfield;

// The instrument's record as --json prints it: the child's own record, with
// the outcome and message the fleet settled on when they differ from what
// the child claimed; for a child that sent none (crashed, killed, never
// started), one made from what the fleet saw.
[[nodiscard]] QJsonObject reportRecord(const InstrumentState &state);
// The same as one JSON line, line break included.
[[nodiscard]] QByteArray reportRecordLine(const InstrumentState &state);

// One row per instrument: address, identity, outcome, files, bytes,
// seconds, message; with a restart column (before the message) when any
// instrument's restart was awaited.
// With audits, an AUDIT column and a last line with the fleet's totals.
// `audit`: the instruments were audited; the AUDIT column and the totals
// show also when no audit came back.
[[nodiscard]] QString fleetTable(const QList<InstrumentState> &states, bool audit = false);

// A message and what more is known of it, as one text: "what: detail", or,
// when `what` already ends a sentence, "What. Detail." as a second one.
[[nodiscard]] QString joinDetail(const QString &what, const QString &detail);

// 0 when every instrument succeeded, 1 when any failed or was stopped,
// 5 when none failed but some restart was not confirmed, 4 when none of
// those but some audit found a file that differs or is missing, 3 when none
// of those but some declined.
[[nodiscard]] int fleetExitStatus(const QList<InstrumentState> &states);

} // namespace fleet

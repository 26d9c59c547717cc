#include "fleet/FleetReport.h"

#include "platform/OutsideText.h"
#include "upgrade/record/RunRecord.h"

#include <QJsonDocument>

#include <algorithm>
#include <array>

namespace fleet {

QJsonObject reportRecord(const InstrumentState &state)
{
    QJsonObject record = state.record;
    if (record.isEmpty()) {
        record.insert(recordkey::Address, state.address);
        record.insert(recordkey::Identity, state.identity);
        record.insert(recordkey::Step, state.step);
        record.insert(recordkey::Bytes, state.bytesDone);
        record.insert(recordkey::Seconds, double(state.elapsedMs) / 1000.0);
    }
    record.insert(recordkey::Outcome, outcomeName(state.outcome));
    record.insert(recordkey::Message, state.message);
    record.insert(recordkey::ChildExit, state.childExit);
    return record;
}

QByteArray reportRecordLine(const InstrumentState &state)
{
    return platform::JsonWithoutControls(QJsonDocument(reportRecord(state)).toJson(QJsonDocument::Compact)) + '\n';
}

namespace {

// The fleet's audit in one line: instruments that hold the kit, and the
// files of each verdict over all of them.
QString auditTotals(const QList<InstrumentState> &states)
{
    int holding = 0;
    int audited = 0;
    std::array<int, 5> sums{};
    namespace key = upgrade::recordfield::audit;
    const std::array<QLatin1String, 5> keys{key::Matches, key::UnknownOrigin, key::Differs, key::Missing, key::Extra};
    for (const InstrumentState &state : states) {
        if (state.audit.isEmpty())
            continue;
        ++audited;
        if (state.outcome == Outcome::Succeeded && !state.auditNotMatching())
            ++holding;
        const QJsonObject counts = state.audit.value(key::Counts).toObject();
        for (size_t i = 0; i < keys.size(); ++i)
            sums[i] += counts.value(keys[i]).toInt();
    }
    return QStringLiteral("Fleet audit: %1 of %2 instrument(s) hold the kit; files: %3 match, %4 unknown origin, "
                          "%5 differ, %6 missing, %7 extra")
        .arg(holding)
        .arg(states.size())
        .arg(sums[0])
        .arg(sums[1])
        .arg(sums[2])
        .arg(sums[3])
        .arg(sums[4]);
}

constexpr int Columns = 9;
constexpr int RestartColumn = 6;
constexpr int AuditColumn = 7;
using Row = std::array<QString, Columns>;

Row stateRow(const InstrumentState &state)
{
    const std::optional<upgrade::RestartVerdict> restart = upgrade::RestartVerdictOf(state.reboot);
    // What kept a restart from being confirmed says more than the
    // success box before it.
    const QString message = state.rebootNotConfirmed() ? upgrade::RestartNotConfirmedWhy(state.reboot)
                                                       : state.message;
    return Row{state.address,
               state.identity.isEmpty() ? QStringLiteral("-") : state.identity,
               outcomeName(state.outcome),
               QString::number(state.filesSent),
               QString::number(state.bytesDone),
               QString::number(double(state.elapsedMs) / 1000.0, 'f', 1),
               restart ? upgrade::RestartVerdictName(*restart) : QStringLiteral("-"),
               state.audit.isEmpty() ? QStringLiteral("-") : state.auditText(),
               // A box text spans lines; the row must not.
               message.isEmpty() ? QStringLiteral("-") : message.simplified()};
}

// The rows in columns, one line each, without the restart and audit
// columns when no instrument has them.
QString laidOut(QList<Row> rows, bool restartShown, bool auditShown)
{
    // Identities, messages and restart verdicts come from the instruments
    // and their children: none may steer the terminal.
    for (Row &row : rows) {
        for (QString &cell : row)
            cell = platform::PrintableText(cell);
    }
    std::array<qsizetype, Columns> widths{};
    for (const Row &row : std::as_const(rows)) {
        for (int c = 0; c < Columns; ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    // Figures line up on the right, words on the left; the message runs on.
    const std::array<bool, Columns> rightAligned{false, false, false, true, true, true, false, false, false};
    QString text;
    for (const Row &row : std::as_const(rows)) {
        QString line;
        for (int c = 0; c < Columns; ++c) {
            if ((c == RestartColumn && !restartShown) || (c == AuditColumn && !auditShown))
                continue;
            if (c > 0)
                line += QStringLiteral("  ");
            if (c == Columns - 1)
                line += row[c];
            else
                line += rightAligned[c] ? row[c].rightJustified(widths[c]) : row[c].leftJustified(widths[c]);
        }
        text += line + u'\n';
    }
    return text;
}

} // namespace

QString fleetTable(const QList<InstrumentState> &states, bool audit)
{
    QList<Row> rows;
    rows << Row{QStringLiteral("ADDRESS"), QStringLiteral("IDENTITY"), QStringLiteral("OUTCOME"),
                QStringLiteral("FILES"), QStringLiteral("BYTES"), QStringLiteral("SECONDS"),
                QStringLiteral("RESTART"), QStringLiteral("AUDIT"), QStringLiteral("MESSAGE")};
    const bool restartAwaited = std::any_of(states.cbegin(), states.cend(), [](const InstrumentState &state) {
        return !state.reboot.isEmpty();
    });
    const bool audited = audit || std::any_of(states.cbegin(), states.cend(), [](const InstrumentState &state) {
        return !state.audit.isEmpty();
    });
    for (const InstrumentState &state : states)
        rows << stateRow(state);
    QString text = laidOut(rows, restartAwaited, audited);
    if (audited)
        text += auditTotals(states) + u'\n';
    return text;
}

QString joinDetail(const QString &what, const QString &detail)
{
    if (detail.isEmpty())
        return what;
    const QString trimmed = what.trimmed();
    if (trimmed.isEmpty())
        return detail;
    if (!trimmed.endsWith(u'.') && !trimmed.endsWith(u'!') && !trimmed.endsWith(u'?'))
        return what + QStringLiteral(": ") + detail;
    QString sentence = detail;
    sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(u'.') && !sentence.endsWith(u'!') && !sentence.endsWith(u'?'))
        sentence += u'.';
    return trimmed + u' ' + sentence;
}

int fleetExitStatus(const QList<InstrumentState> &states)
{
    bool declined = false;
    bool notConfirmed = false;
    bool notMatching = false;
    for (const InstrumentState &state : states) {
        if (state.outcome == Outcome::Declined)
            declined = true;
        else if (state.outcome != Outcome::Succeeded)
            return upgrade::ExitFailed;
        else if (state.rebootNotConfirmed())
            notConfirmed = true;
        else if (state.auditNotMatching())
            notMatching = true;
    }
    return notConfirmed ? upgrade::ExitNotConfirmed
           : notMatching ? upgrade::ExitNotMatching
           : declined    ? upgrade::ExitDeclined
                         : upgrade::ExitUpgraded;
}

} // namespace fleet

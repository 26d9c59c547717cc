#include "fleet/FleetReport.h"

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
    return QJsonDocument(reportRecord(state)).toJson(QJsonDocument::Compact) + '\n';
}

QString fleetTable(const QList<InstrumentState> &states)
{
    constexpr int Columns = 8;
    constexpr int RestartColumn = 6;
    using Row = std::array<QString, Columns>;
    QList<Row> rows;
    rows << Row{QStringLiteral("ADDRESS"), QStringLiteral("IDENTITY"), QStringLiteral("OUTCOME"),
                QStringLiteral("FILES"), QStringLiteral("BYTES"), QStringLiteral("SECONDS"),
                QStringLiteral("RESTART"), QStringLiteral("MESSAGE")};
    const bool restartAwaited = std::any_of(states.cbegin(), states.cend(), [](const InstrumentState &state) {
        return !state.reboot.isEmpty();
    });
    for (const InstrumentState &state : states) {
        // What kept a restart from being confirmed says more than the
        // success box before it.
        const QString message = state.rebootNotConfirmed() ? state.reboot.section(QStringLiteral(": "), 1)
                                                           : state.message;
        rows << Row{state.address,
                    state.identity.isEmpty() ? QStringLiteral("-") : state.identity,
                    outcomeName(state.outcome),
                    QString::number(state.filesSent),
                    QString::number(state.bytesDone),
                    QString::number(double(state.elapsedMs) / 1000.0, 'f', 1),
                    state.reboot.isEmpty() ? QStringLiteral("-") : state.reboot.section(u':', 0, 0),
                    // A box text spans lines; the row must not.
                    message.isEmpty() ? QStringLiteral("-") : message.simplified()};
    }
    std::array<qsizetype, Columns> widths{};
    for (const Row &row : rows) {
        for (int c = 0; c < Columns; ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    // Figures line up on the right, words on the left; the message runs on.
    const std::array<bool, Columns> rightAligned{false, false, false, true, true, true, false, false};
    QString text;
    for (const Row &row : rows) {
        QString line;
        for (int c = 0; c < Columns; ++c) {
            if (c == RestartColumn && !restartAwaited)
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
    for (const InstrumentState &state : states) {
        if (state.outcome == Outcome::Declined)
            declined = true;
        else if (state.outcome != Outcome::Succeeded)
            return upgrade::ExitFailed;
        else if (state.rebootNotConfirmed())
            notConfirmed = true;
    }
    return notConfirmed ? upgrade::ExitNotConfirmed : declined ? upgrade::ExitDeclined : upgrade::ExitUpgraded;
}

} // namespace fleet

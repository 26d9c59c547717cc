#include "upgrade/record/HistoryTable.h"

#include "platform/OutsideText.h"
#include "upgrade/record/HistoryOutcome.h"

#include <QFileInfo>

#include <algorithm>

namespace upgrade {

QStringList FormatHistoryTable(const QList<RunRecord> &records)
{
    QList<QStringList> rows{{"TIME (UTC)", "INSTRUMENT", "IDENTITY", "KIT", "OUTCOME", "FILES", "DURATION", "SNAPSHOT"}};
    for (const RunRecord &r : records) {
        const auto sent = std::count_if(r.files.cbegin(), r.files.cend(), [](const RecordedFile &f) {
            return f.outcome == FileOutcome::SentVerified || f.outcome == FileOutcome::SentNotVerifiable;
        });
        QString identity = r.identity.simplified();
        if (identity.size() > 40)
            identity = identity.left(39) + QChar(0x2026);
        rows.append({r.started.isValid() ? r.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : "-",
                     r.address.isEmpty() ? "-" : r.address,
                     identity.isEmpty() ? "-" : identity,
                     r.kitDigest.isEmpty() ? "-" : QString::fromLatin1(r.kitDigest.left(12)),
                     HistoryOutcomeText(r),
                     QStringLiteral("%1/%2").arg(sent).arg(r.files.size()),
                     QString::number(r.seconds, 'f', 1) + " s",
                     // Housekeeping removes old snapshots: say whether this one is still there.
                     r.snapshot.isEmpty() ? "-" : QFileInfo(r.snapshot).isDir() ? "kept" : "removed"});
    }
    // Every field was written by some run, on some host, from what an
    // instrument answered: none may steer the terminal.
    for (QStringList &row : rows) {
        for (QString &cell : row)
            cell = platform::PrintableText(cell);
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    QStringList lines;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
        lines.append(line);
    }
    return lines;
}

} // namespace upgrade

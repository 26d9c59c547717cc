#include "cli/AuditTable.h"

#include "instrument/InstrumentName.h"
#include "platform/OutsideText.h"

#include <QLocale>

namespace cli {
namespace {

QString sizeText(qint64 size)
{
    return size < 0 ? QStringLiteral("-") : QLocale::c().toString(size);
}

} // namespace

QStringList FormatAudit(const upgrade::AuditReport &report, bool strict)
{
    using upgrade::AuditVerdict;
    QList<QStringList> rows{{"VERDICT", "PATH", "KIT", "DRIVE", "WHY"}};
    for (const upgrade::AuditedFile &file : report.files) {
        if (file.verdict == AuditVerdict::Matches)
            continue;
        // Paths of extras come from the drive: shown with control characters escaped.
        rows.append({upgrade::AuditVerdictText(file.verdict), instrument::PrintablePath(file.instrumentPath),
                     sizeText(file.kitSize), sizeText(file.driveSize), file.why});
    }
    // The reasons quote the history and the server's replies.
    for (QStringList &row : rows) {
        for (QString &cell : row)
            cell = platform::PrintableText(cell);
    }
    QStringList lines;
    if (rows.size() > 1) {
        QList<qsizetype> widths(rows.first().size(), 0);
        for (const QStringList &row : std::as_const(rows))
            for (qsizetype i = 0; i < row.size(); ++i)
                widths[i] = std::max(widths[i], row[i].size());
        for (const QStringList &row : std::as_const(rows)) {
            QString line;
            for (qsizetype i = 0; i < row.size(); ++i)
                line += i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i];
            lines.append(line.trimmed());
        }
        lines.append(QString());
    }
    lines.append(QStringLiteral("matches %1, same size (origin unknown) %2%3, differs %4, missing %5, extra %6")
                     .arg(report.count(AuditVerdict::Matches))
                     .arg(report.count(AuditVerdict::UnknownOrigin))
                     .arg(strict ? QStringLiteral(" (counted as differing: --strict)") : QString())
                     .arg(report.count(AuditVerdict::Differs))
                     .arg(report.count(AuditVerdict::Missing))
                     .arg(report.count(AuditVerdict::Extra)));
    // Only a drive that hides sizes has these; other audits read as before.
    if (const int unknown = report.count(AuditVerdict::SizeUnknown); unknown > 0)
        lines.last() += QStringLiteral(", size unknown %1").arg(unknown);
    return lines;
}

} // namespace cli

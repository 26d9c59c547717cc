#include "report/FleetPage.h"

#include "platform/OutsideText.h"

#include <algorithm>

namespace report {
namespace {

// Shown where a run's digest is: enough to tell kits apart at a glance.
constexpr qsizetype ShortDigest = 12;
constexpr qsizetype ChartLabelChars = 34;

const char *const Style = R"css(
:root { --up-to-date: #1a7f37; --drifted: #9a6700; --failed: #cf222e; --not-confirmed: #bc4c00; --unknown: #57606a; }
body { font: 14px/1.45 "DejaVu Sans", "Liberation Sans", Arial, sans-serif; color: #1f2328; margin: 1.5em 2em; }
h1 { font-size: 1.6em; margin: 0 0 .2em; }
h2 { font-size: 1.25em; border-bottom: 1px solid #d0d7de; padding-bottom: .2em; margin-top: 1.6em; }
h3 { font-size: 1.05em; margin: 1.2em 0 .3em; }
.meta, .small { color: #57606a; font-size: .9em; }
.warning { color: var(--failed); font-weight: bold; }
.summary { display: flex; flex-wrap: wrap; gap: 1.5em 3em; align-items: flex-start; }
.summary h3 { margin-top: 0; }
dl.figures { display: grid; grid-template-columns: auto auto; gap: .2em 1.2em; margin: 0; }
dl.figures dt { margin: 0; }
dl.figures dd { margin: 0; font-weight: bold; text-align: right; }
svg.chart text { font: 12px "DejaVu Sans Mono", "Liberation Mono", monospace; fill: #1f2328; }
svg.chart rect.bar { fill: #0969da; }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid #d0d7de; padding: .35em .5em; text-align: left; vertical-align: top; }
th { background: #f6f8fa; font-size: .9em; }
td.num { text-align: right; }
code { font-family: "DejaVu Sans Mono", "Liberation Mono", monospace; font-size: .92em; }
.identity { word-break: break-all; max-width: 18em; }
.state { display: inline-block; white-space: nowrap; font-weight: bold; color: #fff; border-radius: 4px; padding: .05em .45em; }
.state.up-to-date { background: var(--up-to-date); }
.state.drifted { background: var(--drifted); }
.state.failed { background: var(--failed); }
.state.not-confirmed { background: var(--not-confirmed); }
.state.unknown { background: var(--unknown); }
tr.failed td:first-child { border-left: 4px solid var(--failed); }
tr.drifted td:first-child { border-left: 4px solid var(--drifted); }
tr.not-confirmed td:first-child { border-left: 4px solid var(--not-confirmed); }
ol.timeline { padding-left: 1.4em; margin: .3em 0; }
ol.timeline li { margin: .25em 0; }
ul.files { margin: .1em 0; font-size: .9em; }
@media print {
  body { margin: 0; font-size: 9.5pt; }
  .state, svg.chart rect.bar { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  tr, li, .summary > * { break-inside: avoid; }
  section.instrument { break-inside: avoid-page; }
  a { color: inherit; text-decoration: none; }
}
)css";

QString when(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC")
                          : QStringLiteral("time not on record");
}

QString shortDigest(const QByteArray &digest)
{
    return HtmlText(QString::fromLatin1(digest.left(ShortDigest)));
}

QString badge(RowState state)
{
    return QStringLiteral("<span class=\"state %1\">%2 %3</span>")
        .arg(StateKey(state), StateSymbol(state), StateWord(state));
}

QString anchorOf(qsizetype index)
{
    return QStringLiteral("instrument-%1").arg(index + 1);
}

// Manufacturer, model and serial; an instrument that never answered is
// known by its address alone.
QString nameOf(const InstrumentRow &row)
{
    if (row.identity.isEmpty())
        return QStringLiteral("not identified (%1)").arg(HtmlText(row.key));
    QStringList parts{row.manufacturer, row.model};
    parts.removeAll(QString());
    QString name = HtmlText(parts.join(u' '));
    name += row.serial.isEmpty() ? QStringLiteral(", no serial") : QStringLiteral(", serial ") + HtmlText(row.serial);
    return name;
}

QString chart(const QList<KitCount> &kits)
{
    if (kits.isEmpty())
        return QStringLiteral("<p>No successful upgrade on record, so no kit to show.</p>\n");
    constexpr int Width = 640;
    constexpr int LabelWidth = 300;
    constexpr int BarArea = 280;
    constexpr int Row = 26;
    const int most = std::max_element(kits.cbegin(), kits.cend(), [](const KitCount &a, const KitCount &b) {
                         return a.instruments < b.instruments;
                     })->instruments;
    const int height = int(kits.size()) * Row + 4;
    QString svg = QStringLiteral("<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                                 "aria-label=\"Instruments per kit\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\">\n"
                                 "<title>Instruments per kit</title>\n")
                      .arg(Width)
                      .arg(height);
    for (qsizetype i = 0; i < kits.size(); ++i) {
        const KitCount &kit = kits[i];
        QString label = QString::fromLatin1(kit.kitDigest.left(ShortDigest));
        const QString comment = platform::PrintableText(kit.signerComment);
        if (!comment.isEmpty())
            label += u' ' + comment;
        if (label.size() > ChartLabelChars)
            label = label.left(ChartLabelChars - 1) + QChar(0x2026);
        const int y = int(i) * Row + 2;
        const int barWidth = std::max(2, kit.instruments * BarArea / std::max(1, most));
        // Numbers first: a later arg() would read a "%1" in outside text
        // inserted by an earlier one as its own.
        svg += QStringLiteral("<g class=\"kit\"><title>%7</title>"
                              "<text class=\"label\" x=\"0\" y=\"%1\">%8</text>"
                              "<rect class=\"bar\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"18\"/>"
                              "<text class=\"count\" x=\"%5\" y=\"%1\">%6</text></g>\n")
                   .arg(y + 14)
                   .arg(LabelWidth)
                   .arg(y)
                   .arg(barWidth)
                   .arg(LabelWidth + barWidth + 6)
                   .arg(kit.instruments)
                   .arg(HtmlText(QString::fromLatin1(kit.kitDigest) + u' ' + kit.signerComment), HtmlText(label));
    }
    return svg + QStringLiteral("</svg>\n");
}

QString summary(const FleetView &view, const QHash<QString, qsizetype> &indexOfKey)
{
    QString html = QStringLiteral("<section id=\"summary\"><h2>Summary</h2>\n<div class=\"summary\">\n");
    html += QStringLiteral("<figure style=\"margin:0\"><h3>Instruments per kit</h3>\n") + chart(view.kits)
            + QStringLiteral("</figure>\n");
    html += QStringLiteral("<div><h3>The last %1 days</h3>\n<dl class=\"figures\">"
                           "<dt>Runs</dt><dd>%2</dd><dt>Failures</dt><dd>%3</dd>"
                           "<dt>Audits that found changes</dt><dd>%4</dd>"
                           "<dt>Instruments</dt><dd>%5</dd></dl></div>\n")
                .arg(FleetModel::RecentDays)
                .arg(view.recentRuns)
                .arg(view.recentFailures)
                .arg(view.recentAuditsWithChanges)
                .arg(view.rows.size());
    html += QStringLiteral("<div><h3>Not seen for more than %1 days</h3>\n").arg(FleetModel::RecentDays);
    if (view.notSeen.isEmpty()) {
        html += QStringLiteral("<p>None.</p>");
    } else {
        html += QStringLiteral("<ul class=\"not-seen\">");
        for (const QString &key : view.notSeen) {
            const InstrumentRow &row = view.rows[indexOfKey.value(key)];
            html += QStringLiteral("<li><a href=\"#%1\">%2</a>: %3</li>")
                        .arg(anchorOf(indexOfKey.value(key)), nameOf(row),
                             row.lastSeen.isValid() ? QStringLiteral("last seen ") + when(row.lastSeen)
                                                    : QStringLiteral("never answered"));
        }
        html += QStringLiteral("</ul>");
    }
    return html + QStringLiteral("</div>\n</div>\n</section>\n");
}

QString auditCell(const InstrumentRow &row)
{
    if (!row.lastAudit)
        return QStringLiteral("none on record");
    QStringList counts;
    for (auto it = row.lastAudit->counts.cbegin(); it != row.lastAudit->counts.cend(); ++it) {
        if (it.value() > 0)
            counts << QStringLiteral("%1 %2").arg(it.value()).arg(HtmlText(it.key()));
    }
    QString cell = HtmlText(row.lastAudit->verdict);
    if (!counts.isEmpty())
        cell += QStringLiteral("<br><span class=\"small\">%1</span>").arg(counts.join(QStringLiteral(", ")));
    return cell + QStringLiteral("<br><span class=\"small\">%1</span>").arg(when(row.lastAudit->started));
}

QString rowHtml(const InstrumentRow &row, qsizetype index)
{
    QStringList addresses;
    for (const QString &address : row.addresses)
        addresses << HtmlText(address);
    QString kit = QStringLiteral("none on record");
    if (!row.kitDigest.isEmpty()) {
        kit = QStringLiteral("<code>%1</code>").arg(shortDigest(row.kitDigest));
        if (!row.signerComment.isEmpty())
            kit += QStringLiteral("<br>signed: %1").arg(HtmlText(row.signerComment));
        kit += QStringLiteral("<br><span class=\"small\">since %1; %2</span>").arg(when(row.kitSince), HtmlText(row.kitVerified));
    }
    QString upgrade = QStringLiteral("none on record");
    if (!row.lastUpgradeOutcome.isEmpty()) {
        upgrade = QStringLiteral("%1<br>%2").arg(when(row.lastUpgrade), HtmlText(row.lastUpgradeOutcome));
        if (!row.lastUpgradeMessage.isEmpty())
            upgrade += QStringLiteral(": <span class=\"small\">%1</span>").arg(HtmlText(row.lastUpgradeMessage));
    }
    const QStringList cells{
        badge(row.state),
        QStringLiteral("<a href=\"#") + anchorOf(index) + QStringLiteral("\">") + nameOf(row) + QStringLiteral("</a>"),
        addresses.isEmpty() ? QStringLiteral("-") : addresses.join(QStringLiteral("<br>")),
        row.identity.isEmpty() ? QStringLiteral("-") : HtmlText(row.identity),
        kit,
        upgrade,
        auditCell(row),
        row.reboot.isEmpty() ? QStringLiteral("not awaited") : HtmlText(row.reboot),
    };
    QString html = QStringLiteral("<tr class=\"") + StateKey(row.state) + QStringLiteral("\">");
    for (qsizetype i = 0; i < cells.size(); ++i)
        html += (i == 3 ? QStringLiteral("<td class=\"identity\">") : QStringLiteral("<td>")) + cells[i]
                + QStringLiteral("</td>");
    return html + QStringLiteral("<td class=\"num\">%1</td><td class=\"num\">%2</td></tr>\n").arg(row.runs).arg(row.failures);
}

QString timelineHtml(const InstrumentRow &row, qsizetype index)
{
    QString html = QStringLiteral("<section class=\"instrument\" id=\"%3\"><h3>%4 %5</h3>\n"
                                  "<p class=\"small\">%6; %1 run(s), %2 failed</p>\n<ol class=\"timeline\">\n")
                       .arg(row.runs)
                       .arg(row.failures)
                       .arg(anchorOf(index), badge(row.state), nameOf(row),
                            row.identity.isEmpty() ? QStringLiteral("never identified") : HtmlText(row.identity));
    for (const TimelineEntry &e : row.timeline) {
        html += QStringLiteral("<li><time>%1</time> <b>%2</b> %3").arg(when(e.started), HtmlText(e.kind), HtmlText(e.outcome));
        if (!e.step.isEmpty() && e.outcome != QLatin1String("succeeded"))
            html += QStringLiteral(" in step %1").arg(HtmlText(e.step));
        if (!e.message.isEmpty())
            html += QStringLiteral(": %1").arg(HtmlText(e.message));
        if (!e.note.isEmpty())
            html += QStringLiteral(" (%1)").arg(HtmlText(e.note));
        if (!e.reboot.isEmpty())
            html += QStringLiteral("; restart: %1").arg(HtmlText(e.reboot));
        html += QStringLiteral("<br><span class=\"small\">at %1 from %2").arg(HtmlText(e.address), HtmlText(e.host));
        if (!e.kitDigest.isEmpty())
            html += QStringLiteral(", kit <code>%1</code>").arg(shortDigest(e.kitDigest));
        html += QStringLiteral("</span>");
        if (!e.files.isEmpty()) {
            html += QStringLiteral("<ul class=\"files\">");
            for (const QString &file : e.files)
                html += QStringLiteral("<li><code>%1</code></li>").arg(HtmlText(file));
            if (e.moreFiles > 0)
                html += QStringLiteral("<li>and %1 more</li>").arg(e.moreFiles);
            html += QStringLiteral("</ul>");
        }
        html += QStringLiteral("</li>\n");
    }
    html += QStringLiteral("</ol>\n");
    if (row.earlierRuns > 0)
        html += QStringLiteral("<p class=\"small\">%1 earlier run(s) not shown.</p>\n").arg(row.earlierRuns);
    return html + QStringLiteral("</section>\n");
}

QString sourcesHtml(const FleetView &view)
{
    qint64 records = 0;
    int damaged = 0;
    QStringList files;
    for (const SourceFile &s : view.sources) {
        records += s.records;
        damaged += s.damagedLines;
        QString line = QStringLiteral("<code>%2</code>: %1 run(s)").arg(s.records).arg(HtmlText(s.file));
        if (s.damagedLines > 0)
            line += QStringLiteral(", <span class=\"warning\">%1 damaged line(s) skipped</span>").arg(s.damagedLines);
        files << QStringLiteral("<li>%1</li>").arg(line);
    }
    QString html = QStringLiteral("<p class=\"meta\">Made %1 from %2 run(s) on record%3.")
                       .arg(when(view.generated))
                       .arg(records)
                       .arg(view.since.isValid() ? QStringLiteral(" since ") + when(view.since) : QString());
    if (damaged > 0)
        html += QStringLiteral(" <span class=\"warning\">%1 damaged line(s) in the history were skipped.</span>").arg(damaged);
    return html + QStringLiteral("</p>\n<ul class=\"meta\">%1</ul>\n").arg(files.join(QString()));
}

} // namespace

QString HtmlText(const QString &outside)
{
    return platform::PrintableText(outside).toHtmlEscaped();
}

QByteArray FleetPage(const FleetView &view)
{
    QHash<QString, qsizetype> indexOfKey;
    for (qsizetype i = 0; i < view.rows.size(); ++i)
        indexOfKey.insert(view.rows[i].key, i);

    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                  "<title>VX900 fleet</title>\n<style>")
                   + QLatin1String(Style) + QStringLiteral("</style>\n</head>\n<body>\n<h1>VX900 fleet</h1>\n");
    html += sourcesHtml(view);
    html += summary(view, indexOfKey);
    html += QStringLiteral("<section id=\"instruments\"><h2>Instruments</h2>\n<table>\n<thead><tr>"
                           "<th>State</th><th>Instrument</th><th>Address</th><th>Identity</th><th>Kit held</th>"
                           "<th>Last upgrade</th><th>Last audit</th><th>Restart</th><th>Runs</th><th>Failures</th>"
                           "</tr></thead>\n<tbody>\n");
    for (qsizetype i = 0; i < view.rows.size(); ++i)
        html += rowHtml(view.rows[i], i);
    html += QStringLiteral("</tbody>\n</table>\n</section>\n<section id=\"timelines\"><h2>Runs of each instrument</h2>\n");
    for (qsizetype i = 0; i < view.rows.size(); ++i)
        html += timelineHtml(view.rows[i], i);
    html += QStringLiteral("</section>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace report

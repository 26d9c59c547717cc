#include "RecordingObserver.h"

void RecordingObserver::runStarted()
{
    memo.clear();
    progress({0, 0, 0, QString()});
}

void RecordingObserver::progress(const upgrade::RunProgress &progress)
{
    progressReports.append(progress);
    if (progress.bar != barNow) {
        barNow = progress.bar;
        bar.append(barNow);
    }
    if (onProgress)
        onProgress(progress);
}

void RecordingObserver::fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome)
{
    files.append(QStringLiteral("%1 %2 %3")
                     .arg(file.instrumentPath)
                     .arg(file.size)
                     .arg(outcome == upgrade::FileOutcome::Failed ? QStringLiteral("failed") : QStringLiteral("copied")));
}

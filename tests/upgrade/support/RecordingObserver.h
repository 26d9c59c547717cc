#pragma once

#include "RunFixture.h"

#include "upgrade/run/RunObserver.h"

#include <QList>
#include <QStringList>

#include <functional>

// Keeps everything a run reports, and answers its boxes through `boxes`.
class RecordingObserver : public upgrade::RunObserver
{
public:
    QStringList memo;   // the memo as the window would show it: cleared when a run starts
    QList<int> bar;     // every new position of the bar, in order
    int barNow = 0;
    QList<upgrade::RunStep> steps;
    BoxAnswers boxes;
    // "<instrument path> <size> copied|failed" for each file that ended,
    // in order; a file that started and never ended has no line.
    QStringList files;
    qsizetype filesStarted = 0;
    QList<upgrade::RunProgress> progressReports;
    QList<upgrade::RunResult> results;

    // Runs at each progress report, inside the run.
    std::function<void(const upgrade::RunProgress &)> onProgress;

    void runStarted() override;
    void stepEntered(upgrade::RunStep step) override { steps.append(step); }
    void memoLine(const QString &line) override { memo.append(line); }
    void progress(const upgrade::RunProgress &progress) override;
    void fileStarted(const upgrade::FileTransfer &) override { ++filesStarted; }
    void fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome) override;
    int box(const QString &text, const QString &caption, int flags) override
    {
        return boxes.take(text, caption, flags);
    }
    void runEnded(const upgrade::RunResult &result) override { results.append(result); }
};

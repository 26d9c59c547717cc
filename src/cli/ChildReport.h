#pragma once

#include "cli/CliOptions.h"
#include "upgrade/record/RunHistory.h"
#include "upgrade/run/RunObserver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace cli {

// The run as a fleet's child reports it (--fleet-child): every event as one
// JSON line on `out` (fleet/ChildProtocol.h), flushed at once, ending with
// the run's record. Questions are answered from --yes/--no, never asked.
class ChildReport : public upgrade::RunObserver
{
public:
    ChildReport(std::FILE *out, LowSpaceAnswer answer, QString address, QString kitFolder);
    // The run's own record, sent as the last line when the run ends.
    void reportRecordOf(const upgrade::RunRecord &record) { runRecord = &record; }
    // The link's *IDN? reply, told as soon as the run is past its check, so
    // that a fleet knows the instrument even if this child dies mid-run.
    void reportIdentityOf(const QByteArray &reply) { identityReply = &reply; }
    // The record waits for sendRecord() instead of going with the run's end
    // (--await-reboot adds the restart to it first).
    void holdRecord() { recordHeld = true; }
    void sendRecord(const upgrade::RunRecord &record);
    // The wait for the instrument's restart, `seconds` into it.
    void restartWaited(int seconds);

    void runStarted() override;
    void stepEntered(upgrade::RunStep step) override;
    void memoLine(const QString &line) override;
    void progress(const upgrade::RunProgress &progress) override;
    void fileStarted(const upgrade::FileTransfer &file) override;
    void fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome) override;
    int box(const QString &text, const QString &caption, int flags) override;
    void runEnded(const upgrade::RunResult &result) override;

private:
    void write(const QByteArray &line);
    void tellIdentity(const QByteArray &reply);

    std::FILE *out;
    LowSpaceAnswer answer;
    QString address;
    QString kitFolder;
    upgrade::RunStep step = upgrade::RunStep::Connect;
    QString module;
    QElapsedTimer sinceProgress;
    upgrade::RunProgress latest;
    bool latestHeldBack = false;
    const upgrade::RunRecord *runRecord = nullptr;
    const QByteArray *identityReply = nullptr;
    QString identityTold;
    bool recordHeld = false;
};

} // namespace cli

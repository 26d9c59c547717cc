// The copy over several FTP sessions (--sessions): the link's own session
// and those of an FtpSessionPool share each phase's files, largest first.
// Everything the operator sees, and every check and record of a file, is
// done here on the run's thread, as the sequential copy does it.
#include "upgrade/run/steps/ParallelSend.h"

#include "ftp/TNMFTP.h"
#include "instrument/LinkError.h"
#include "instrument/Uvx900.h"
#include "platform/OutsideText.h"
#include "upgrade/drive/SendCheck.h"
#include "upgrade/record/SendIndex.h"
#include "upgrade/run/UpgradeRun.h"

#include <algorithm>

namespace upgrade {

namespace {

QString fileNameOf(const FileTransfer &file)
{
    return file.instrumentPath.section(u'/', -1);
}

} // namespace

int UpgradeRun::sessionsWanted()
{
    if (sessions != 0)
        return sessions;
    if (!historyFile.isEmpty()) {
        const upgrade::SendIndex index(historyFile);
        if (const std::optional<int> kept = index.sessionsFor(upgrade::ModelKey(QString::fromLatin1(link.IdentityReply))))
            return *kept;
    }
    return AutoSessions;
}

// Here, beside the sessions it must end as well.
void UpgradeRun::RequestStop()
{
    if (!inProgress || stopping)
        return;
    stopping = true;
    // Ends the FTP wait the run is in now (the data connection first); the
    // run checks the flag after every call that can pump events.
    link.AbortTransfers();
    if (parallel)
        parallel->pool.abort();
}

upgrade::SessionsScope UpgradeRun::openSessions()
{
    runRecord.sessions = 1;
    runRecord.sessionsAuto = sessions == 0;
    const int wanted = sessionsWanted();
    // They log in while the folders are made on the command channel.
    if (wanted > 1)
        parallel = std::make_unique<upgrade::ParallelSend>(FtpSessionPool::SettingsOf(*link.NMFTP), wanted,
                                                           sessions == 0);
    return upgrade::SessionsScope{parallel};
}

void UpgradeRun::settleSessions()
{
    upgrade::ParallelSend &p = *parallel;
    if (p.settled)
        return;
    const int open = p.pool.awaitOpened([this] { return stopping; });
    throwIfStopRequested();
    p.settled = true;
    runRecord.sessions = 1 + open;
    // A server that takes fewer sessions (a limit per client, a refused
    // log-in) is no failure: the files go over those it took.
    if (open + 1 < p.asked) {
        const QString why = platform::PrintableText(p.pool.firstRefusal());
        memo(QStringLiteral("VX900 took %1 of the %2 FTP sessions asked for%3; going on with %1.")
                 .arg(open + 1)
                 .arg(p.asked)
                 .arg(why.isEmpty() ? QString() : QStringLiteral(" (") + why + u')'));
    }
}

bool UpgradeRun::sendCollected()
{
    upgrade::ParallelSend &p = *parallel;
    std::vector<FileTransfer> files = std::move(p.collected);
    p.collected.clear();
    // Largest first: the last files to start are small ones, so no session
    // is left alone with a long send at the end.
    std::stable_sort(files.begin(), files.end(), [](const FileTransfer &a, const FileTransfer &b) { return a.size > b.size; });
    // A file planned late grows the plan, which may move what it holds:
    // every file is planned before any session holds on to its entry.
    for (const FileTransfer &file : files)
        static_cast<void>(plannedForSend(file));
    std::vector<FtpSessionPool::Job> jobs;
    for (FileTransfer &file : files) {
        const int ticket = ++p.lastTicket;
        auto kitFile = std::make_unique<upgrade::SentKitFile>(file.localPath, plannedForSend(file));
        upgrade::SentKitFile *kit = kitFile.get();
        jobs.push_back({ticket, file.size, file.instrumentPath,
                        [kit]() -> QFile * { return kit->open() ? &kit->file() : nullptr; },
                        [kit] { return kit->unchanged(); }});
        p.pending.emplace(ticket, upgrade::ParallelSend::Pending{std::move(file), std::move(kitFile)});
    }
    p.pool.enqueue(std::move(jobs));
    const auto stopped = [this] { return stopping; };
    try {
        for (;;) {
            while (std::optional<FtpSessionPool::Outcome> outcome = p.pool.next(false, stopped))
                takeOutcome(*outcome);
            throwIfStopRequested();
            // The link's own session takes its share between the outcomes.
            if (const std::optional<FtpSessionPool::Job> job = p.pool.take()) {
                if (!sendOnLink(job->ticket)) {
                    abandonSends();
                    return false;
                }
                continue;
            }
            if (p.pool.unfinished() == 0)
                break;
            if (std::optional<FtpSessionPool::Outcome> outcome = p.pool.next(true, stopped))
                takeOutcome(*outcome);
            throwIfStopRequested();
        }
    } catch (...) {
        abandonSends();
        throw;
    }
    // Every file handed out has its outcome by now; a phase that ended
    // otherwise must not count as copied. The sessions took their files as
    // they logged in; how many did is known by now.
    throwIfStopRequested();
    settleSessions();
    if (!p.pending.empty())
        throw ELinkError(QStringLiteral("Upload failed: %1 file(s) were not sent").arg(p.pending.size()));
    takeVerdicts(sendCheck->settle());
    return true;
}

bool UpgradeRun::sendOnLink(int ticket)
{
    const auto found = parallel->pending.find(ticket);
    const FileTransfer file = found->second.file;
    // uploadFile holds the kit file open itself.
    parallel->pending.erase(found);
    memo(QStringLiteral("Copying... ") + fileNameOf(file));
    if (!uploadFile(file, true))
        return false;
    copiedBytes += file.size;
    showCopyProgress();
    return true;
}

void UpgradeRun::takeOutcome(const FtpSessionPool::Outcome &outcome)
{
    const auto found = parallel->pending.find(outcome.ticket);
    if (found == parallel->pending.end())
        return;
    const upgrade::ParallelSend::Pending sent = std::move(found->second);
    parallel->pending.erase(found);
    const FileTransfer &file = sent.file;
    observer.fileStarted(file);
    memo(QStringLiteral("Copying... ") + fileNameOf(file));
    bool copied = false;
    struct EndReport
    {
        UpgradeRun &run;
        const FileTransfer &file;
        const bool &copied;
        ~EndReport()
        {
            if (!copied)
                run.recordUnsentAsFailed(file);
            run.observer.fileEnded(file, copied ? upgrade::FileOutcome::SentNotVerifiable : upgrade::FileOutcome::Failed);
        }
    } endReport{*this, file, copied};

    // The operator hears of the send as if the link's own session had made it.
    for (const auto &[notice, kind] : outcome.notices) {
        bool handled = false;
        switch (notice) {
        case FtpSessionPool::Notice::Success:
            link.NMFTPSuccess(kind);
            break;
        case FtpSessionPool::Notice::Failure:
            link.NMFTPFailure(handled, kind);
            break;
        case FtpSessionPool::Notice::Unsupported:
            link.NMFTPUnSupportedFunction(kind);
            break;
        }
    }
    switch (outcome.kind) {
    case FtpSessionPool::Outcome::Kind::NotOpened:
        failChangedFile(file, false);
    case FtpSessionPool::Outcome::Kind::Failed:
        if (!outcome.unchanged && !stopping)
            failChangedFile(file, true);
        throwIfStopRequested();
        ELinkError::RaiseOnFailure(outcome.result);
        throw ELinkError(QStringLiteral("Upload failed"));
    case FtpSessionPool::Outcome::Kind::Stored:
        break;
    }
    if (!outcome.unchanged)
        failChangedFile(file, false);
    verifyUpload(file, true);
    copied = true;
    ++filesCopied;
    copiedBytes += file.size;
    showCopyProgress();
}

void UpgradeRun::abandonSends()
{
    upgrade::ParallelSend &p = *parallel;
    for (const int ticket : p.pool.dropQueued())
        p.pending.erase(ticket);
    bool aborted = false;
    const auto abortOnStop = [this, &p, &aborted] {
        if (stopping && !aborted) {
            aborted = true;
            p.pool.abort();
        }
        return false;
    };
    abortOnStop();
    // Bounded: every send ends within the engine's time-out, at once when aborted.
    while (const std::optional<FtpSessionPool::Outcome> outcome = p.pool.next(true, abortOnStop)) {
        const auto found = p.pending.find(outcome->ticket);
        if (found == p.pending.end())
            continue;
        const FileTransfer file = found->second.file;
        p.pending.erase(found);
        // Not checked: the run is ending on another file's failure, and a
        // check that failed now would hide that one.
        const bool stored = outcome->kind == FtpSessionPool::Outcome::Kind::Stored && outcome->unchanged;
        observer.fileStarted(file);
        runRecord.setOutcome(file.instrumentPath,
                             stored ? upgrade::FileOutcome::SentNotVerifiable : upgrade::FileOutcome::Failed);
        if (stored) {
            ++filesCopied;
            copiedBytes += file.size;
        }
        observer.fileEnded(file, stored ? upgrade::FileOutcome::SentNotVerifiable : upgrade::FileOutcome::Failed);
    }
    // The record counts the sessions that ran, also in a run that failed.
    runRecord.sessions = 1 + p.pool.awaitOpened(abortOnStop);
}

void UpgradeRun::recordUnsentAsFailed(const FileTransfer &file)
{
    // A send that failed may have left part of the file: the record must
    // not say it was never sent. A verdict already given stays.
    for (const upgrade::RecordedFile &recorded : std::as_const(runRecord.files)) {
        if (recorded.instrumentPath == file.instrumentPath) {
            if (recorded.outcome == upgrade::FileOutcome::NotSent)
                runRecord.setOutcome(file.instrumentPath, upgrade::FileOutcome::Failed);
            return;
        }
    }
}

} // namespace upgrade

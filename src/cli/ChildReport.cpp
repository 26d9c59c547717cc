#include "cli/ChildReport.h"

#include "cli/ConsoleBoxes.h"
#include "fleet/ChildProtocol.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"
#include "upgrade/record/RunHistory.h"

namespace cli {
namespace {

// The fleet redraws a few times a second; more lines would only load the pipe.
constexpr qint64 ProgressEveryMs = 200;

} // namespace

ChildReport::ChildReport(std::FILE *out, LowSpaceAnswer answer, QString address, QString kitFolder)
    : out(out)
    , answer(answer)
    , address(std::move(address))
    , kitFolder(std::move(kitFolder))
{
}

void ChildReport::write(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
    std::fflush(out);
}

void ChildReport::runStarted()
{
}

void ChildReport::tellIdentity(const QByteArray &reply)
{
    const QString identity = QString::fromLatin1(reply).trimmed();
    if (identity.isEmpty() || identity == identityTold)
        return;
    identityTold = identity;
    write(fleet::childline::identity(identity));
}

void ChildReport::stepEntered(upgrade::RunStep entered)
{
    step = entered;
    // Told as soon as it is known: a child killed later sends no end, and
    // the fleet still shows which instrument it was.
    if (identityReply && entered != upgrade::RunStep::Connect)
        tellIdentity(*identityReply);
    if (entered == upgrade::RunStep::DriveCheck && runRecord)
        tellIdentity(runRecord->identity.toLatin1());
    // The module step is announced per module, as its first file starts.
    if (entered != upgrade::RunStep::Modules)
        write(fleet::childline::step(upgrade::ChildStepName(entered)));
}

void ChildReport::memoLine(const QString &line)
{
    write(fleet::childline::memo(line));
}

void ChildReport::progress(const upgrade::RunProgress &progress)
{
    latest = progress;
    // Between files (file empty) always: the fleet's count then stays exact.
    latestHeldBack = !progress.file.isEmpty() && sinceProgress.isValid() && sinceProgress.elapsed() < ProgressEveryMs;
    if (latestHeldBack)
        return;
    sinceProgress.start();
    write(fleet::childline::progress(progress.copiedBytes, progress.totalBytes, progress.file));
}

void ChildReport::fileStarted(const upgrade::FileTransfer &file)
{
    if (step != upgrade::RunStep::Modules)
        return;
    // "/F0:/KRN3/..." belongs to module KRN3.
    const QString name = file.instrumentPath.section(u'/', 2, 2);
    if (name != module) {
        module = name;
        write(fleet::childline::step(upgrade::ChildStepName(step), module));
    }
}

void ChildReport::fileEnded(const upgrade::FileTransfer &file, upgrade::FileOutcome outcome)
{
    // A file's end always shows its last bytes, a failed one's too.
    if (latestHeldBack) {
        latestHeldBack = false;
        sinceProgress.start();
        write(fleet::childline::progress(latest.copiedBytes, latest.totalBytes, latest.file));
    }
    // The fleet counts and records these as the record's files: a NAME
    // file among them would count a file the history does not.
    if (!file.ofKit)
        return;
    write(fleet::childline::file(file.instrumentPath, file.size, upgrade::FileOutcomeName(outcome)));
}

int ChildReport::box(const QString &text, const QString &caption, int flags)
{
    if (!platform::IsQuestion(flags)) {
        write(fleet::childline::box(ConsoleBoxes::kindOf(flags), caption, text));
        return platform::IDOK;
    }
    const bool yes = answer == LowSpaceAnswer::Yes;
    write(fleet::childline::box(ConsoleBoxes::kindOf(flags), caption, text,
                                yes ? QStringLiteral("yes") : QStringLiteral("no")));
    return yes ? platform::IDYES : platform::IDNO;
}

void ChildReport::runEnded(const upgrade::RunResult &result)
{
    tellIdentity(result.identity);
    // The error box the console view shows after the run, told before the
    // record, which must come last.
    if (!result.note.isEmpty())
        memoLine(result.note);
    else if (result.raised)
        write(fleet::childline::box(QStringLiteral("error"), platform::ErrorCaption(), result.message));
    if (recordHeld)
        return;
    // The run has put itself on record before it tells its end.
    write(fleet::childline::record(runRecord ? runRecord->toJson() : QJsonObject{}));
}

void ChildReport::sendRecord(const upgrade::RunRecord &record)
{
    write(fleet::childline::record(record.toJson()));
}

void ChildReport::restartWaited(int seconds)
{
    write(fleet::childline::step(QStringLiteral("restarting"), QStringLiteral("%1 s").arg(seconds)));
}

} // namespace cli

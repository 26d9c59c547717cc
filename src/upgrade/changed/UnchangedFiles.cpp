#include "upgrade/changed/UnchangedFiles.h"

#include "upgrade/drive/DriveLookup.h"

#include <QLocale>

namespace upgrade {

UnchangedFiles::UnchangedFiles(DriveLookup &drive, const QString &historyFile, bool trustSize)
    : drive(drive)
    , index(historyFile)
    , trustSize(trustSize)
{
}

UnchangedFiles::~UnchangedFiles() = default;

std::optional<UnchangedFiles::Verdict> UnchangedFiles::check(const QString &identityReply, const QString &address,
                                                             const QString &instrumentPath, qint64 size,
                                                             const QByteArray &sha256Hex)
{
    // The record first: without a verified send of this content nothing on
    // the instrument needs to be asked, unless the size alone may vouch.
    Verdict verdict;
    const std::optional<VerifiedSend> send = index.lastVerified(InstrumentKey(identityReply, address), instrumentPath);
    if (send && send->sha256Hex == sha256Hex && send->size == size)
        verdict.verifiedOn = send->runStarted;
    else if (send || !trustSize)
        // Other content was verified there last: the file differs, whatever
        // its size. Only a file no run on record accounts for may be
        // vouched for by its size.
        return std::nullopt;
    // Anything but the kit's size, known, leaves the file to be sent.
    const DriveAnswer there = drive.file(instrumentPath);
    if (there.state != DriveAnswer::State::Present || there.size != size)
        return std::nullopt;
    return verdict;
}

void UnchangedFiles::skipped(qint64 size, const Verdict &verdict)
{
    ++files;
    bytes += size;
    if (!verdict.verifiedOn.isValid())
        ++bySizeAlone;
    else if (!since.isValid() || verdict.verifiedOn < since)
        since = verdict.verifiedOn;
}

QString UnchangedFiles::summary(bool dryRun) const
{
    // A dry run sent nothing: it tells what the run would leave out.
    if (files == 0)
        return dryRun ? QStringLiteral("Changed files only: a run would send every file; the instrument holds none of "
                                       "them as a run on record verified.")
                      : QStringLiteral("Changed files only: every file was sent; the instrument held none of them as "
                                       "a run on record had verified.");
    const QLocale c = QLocale::c();
    QString line = (dryRun ? QStringLiteral("Changed files only: a run would not send %1 file(s) (%2 bytes) again, "
                                            "the instrument holds them")
                           : QStringLiteral("Changed files only: %1 file(s) (%2 bytes) not sent again, the instrument "
                                            "holds them"))
                       .arg(files)
                       .arg(c.toString(bytes));
    if (since.isValid())
        line += QStringLiteral(" as verified by the runs on record since %1 UTC")
                    .arg(since.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (bySizeAlone > 0)
        line += QStringLiteral("; %1 of them at the kit's size only (--trust-size)").arg(bySizeAlone);
    return line + QLatin1Char('.');
}

} // namespace upgrade

#include "upgrade/drive/ProbeDriveSource.h"

#include "instrument/CatalogueReply.h"
#include "instrument/CommandProbe.h"
#include "instrument/InstrumentName.h"

namespace upgrade {

ProbeDriveSource::ProbeDriveSource(CommandProbe &probe, int replyTimeoutMs)
    : probe(probe)
    , replyTimeoutMs(replyTimeoutMs)
{
}

QString ProbeDriveSource::NoReplyText(const QString &folder)
{
    return QStringLiteral("no reply to the catalogue of %1").arg(instrument::PrintablePath(folder));
}

FolderListing ProbeDriveSource::list(const QString &folder)
{
    FolderListing result;
    if (!instrument::FitsCommandLine(folder)) {
        result.problem = QStringLiteral("%1 can't be listed by name").arg(instrument::PrintablePath(folder));
        return result;
    }
    const std::optional<QByteArray> reply = probe.query("MMEM:CAT? \"" + folder.toUtf8() + '"', replyTimeoutMs);
    if (!reply) {
        result.status = FolderListing::Status::Failed;
        result.problem = NoReplyText(folder);
        return result;
    }
    const std::optional<QList<CatalogueReply::Entry>> entries = CatalogueReply::Entries(*reply);
    if (!entries) {
        result.problem = QStringLiteral("the instrument's catalogue of %1 could not be read")
                             .arg(instrument::PrintablePath(folder));
        return result;
    }
    result.status = FolderListing::Status::Listed;
    for (const CatalogueReply::Entry &entry : *entries)
        result.entries.append({QString::fromUtf8(entry.name), entry.type.toUpper() == "DIR", entry.size});
    return result;
}

TSizeReply ProbeDriveSource::size(const QString &)
{
    TSizeReply declined;
    declined.kind = TSizeReply::Kind::NotImplemented;
    return declined;
}

} // namespace upgrade

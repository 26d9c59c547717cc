#include "upgrade/kit/SentKitFile.h"

#include "instrument/InstrumentName.h"
#include "platform/Sha256.h"

namespace upgrade {

SentKitFile::SentKitFile(const QString &localPath, const PlannedFile *planned)
    : planned(planned)
    , handle(localPath)
{
}

bool SentKitFile::open()
{
    return planned && handle.open(QIODevice::ReadOnly | QIODevice::Unbuffered)
           && FileStamp::of(handle) == planned->stamp;
}

bool SentKitFile::unchanged()
{
    if (!planned || !handle.isOpen() || FileStamp::of(handle) != planned->stamp)
        return false;
    // Replaced during the send: what went was pre-flight's file, but the kit
    // the operator sees is no longer the one on record.
    const std::optional<FileStamp> atPath = FileStamp::atPath(handle.fileName());
    if (!atPath || atPath->device != planned->stamp.device || atPath->inode != planned->stamp.inode)
        return false;
    return planned->stampSettled || sameBytes();
}

bool SentKitFile::sameBytes()
{
    if (!handle.seek(0))
        return false;
    platform::Sha256 hash;
    const platform::Sha256::FileRead read = hash.addFile(handle);
    return read.ok() && read.bytes == planned->size && hash.result() == planned->sha256;
}

QString SentKitFile::ChangedText(const QString &localPath)
{
    return QStringLiteral("Upload failed: %1 changed while it was being sent").arg(instrument::PrintablePath(localPath));
}

} // namespace upgrade

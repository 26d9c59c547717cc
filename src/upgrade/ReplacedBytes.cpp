#include "upgrade/ReplacedBytes.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"

namespace upgrade {

qint64 ReplacedBytes(TfrmVX900 &link, const QList<PlannedFile> &files, qint64 enough,
                     const std::function<void()> &afterEach)
{
    // SIZE counts bytes only in image type; the copies select it again later.
    link.NMFTP->SetTransferType(TransferImage);
    if (afterEach)
        afterEach();
    qint64 replaced = 0;
    for (const PlannedFile &file : files) {
        if (replaced >= enough)
            break;
        const TSizeReply answer = link.NMFTP->FileSize(file.instrumentPath);
        if (afterEach)
            afterEach();
        if (answer.kind == TSizeReply::Kind::NotImplemented)
            break; // no other file will have a size either
        if (answer.kind == TSizeReply::Kind::Size)
            replaced += answer.size;
    }
    return replaced;
}

} // namespace upgrade

#include "upgrade/ReplacedBytes.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"

#include <QMap>

namespace upgrade {
namespace {

// A planned file's folder and name on the instrument.
QString folderOf(const QString &instrumentPath)
{
    return instrumentPath.left(instrumentPath.lastIndexOf(QLatin1Char('/')));
}

QString nameOf(const QString &instrumentPath)
{
    return instrumentPath.mid(instrumentPath.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

qint64 ReplacedBytes(TfrmVX900 &link, const QList<PlannedFile> &files, qint64 enough,
                     const std::function<void()> &afterEach)
{
    // One listing a folder says what every file sent into it replaces; the
    // folders in the order the copy reaches them.
    QList<QString> folders;
    QMap<QString, QList<const PlannedFile *>> byFolder;
    for (const PlannedFile &file : files) {
        const QString folder = folderOf(file.instrumentPath);
        if (!byFolder.contains(folder))
            folders.append(folder);
        byFolder[folder].append(&file);
    }

    qint64 replaced = 0;
    bool imageType = false;
    bool sizeOffered = true;
    for (const QString &folder : std::as_const(folders)) {
        if (replaced >= enough)
            break;
        const FolderListing listing = link.ListFolder(folder);
        if (afterEach)
            afterEach();
        for (const PlannedFile *file : std::as_const(byFolder[folder])) {
            if (replaced >= enough)
                break;
            if (listing.status == FolderListing::Status::Listed) {
                // Not listed: nothing there to replace.
                if (const FtpListing::Entry *entry = listing.find(nameOf(file->instrumentPath));
                    entry && !entry->folder && entry->size > 0)
                    replaced += entry->size;
                continue;
            }
            // Neither way lists the folder: file by file, where SIZE is offered.
            if (!sizeOffered)
                continue;
            if (!imageType) {
                // SIZE counts bytes only in image type; the copies select it again later.
                link.SetTransferType(TTransferType::Image);
                imageType = true;
            }
            const TSizeReply answer = link.FileSize(file->instrumentPath);
            if (afterEach)
                afterEach();
            if (answer.kind == TSizeReply::Kind::NotImplemented)
                sizeOffered = false; // no other file will have a size either
            else if (answer.kind == TSizeReply::Kind::Size)
                replaced += answer.size;
        }
    }
    return replaced;
}

} // namespace upgrade

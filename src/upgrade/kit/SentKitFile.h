#pragma once

#include "upgrade/kit/KitPreflight.h"

#include <QFile>
#include <QString>

namespace upgrade {

// A kit file on its way to the instrument, held open from before its upload
// until after it, so that the run's record describes the bytes that went:
// the upload sends this very descriptor, and the file must still be the one
// pre-flight read, as it read it, before the send and after it.
//
// The file's stamp (size, modification and change times to the nanosecond,
// device, inode) is what vouches for it: every write moves the change time,
// which nobody can set back, and a replacement has another inode. Where the
// file had been written just before pre-flight read it, a write since may
// have landed in the same tick of the file system's clock and left the
// stamp as it was; such a file is read again after the send and its digest
// compared.
class SentKitFile
{
public:
    // `planned`: what pre-flight read at `localPath`; null when it read
    // nothing there (the file appeared since).
    SentKitFile(const QString &localPath, const PlannedFile *planned);

    // Opens the file; false when it is no longer the one pre-flight read.
    [[nodiscard]] bool open();
    // The open file, for the upload.
    [[nodiscard]] QFile &file() { return handle; }
    // After the send: the open file, and what lies at its path, are still
    // the file pre-flight read, with the same bytes.
    [[nodiscard]] bool unchanged();

    // The memo line and error of a file that failed the check.
    [[nodiscard]] static QString ChangedText(const QString &localPath);

private:
    [[nodiscard]] bool sameBytes();

    const PlannedFile *planned;
    QFile handle;
};

} // namespace upgrade

#pragma once

#include "upgrade/signature/ChecksumList.h"

#include <QString>
#include <QStringList>

namespace upgrade {

struct KitChecksums
{
    QList<ChecksumEntry> entries; // sorted by path
    QStringList problems;         // one line each; nothing is written when there is one
};

// The digests of the whole kit in `kitFolder`, for its publisher to sign:
// every file under "target" and "MainFrame" whose name (and every folder's
// on the way) does not begin with ".", whatever a run would tick, and
// vxUpgrade.ini when there is one. Paths are relative to the kit, "/"-joined.
[[nodiscard]] KitChecksums ComputeKitChecksums(const QString &kitFolder);

// Computes the list and writes it as SHA256 at the kit's root, whole or not
// at all. The problems, or none; `written` gets the number of files listed.
[[nodiscard]] QStringList WriteKitChecksums(const QString &kitFolder, int &written);

} // namespace upgrade

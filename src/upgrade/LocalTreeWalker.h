#pragma once

#include "platform/LocalFolder.h"

#include <QString>
#include <QStringList>

#include <functional>

// One entry met by a walk.
struct WalkItem
{
    const platform::FolderEntry &entry;
    QString localPath;      // the entry's full local path
    QString parentRelative; // its folder below the walk's root, "/"-joined; empty at the top
    int depth = 0;          // 0 for entries lying directly in the root
    bool loopsBack = false; // a folder that leads back to a folder being walked (a link loop)
};

// What the visitor wants done next. For a file Go and Skip are the same.
enum class WalkStep { Go, Skip, Stop };

// The one walk over local trees that measuring and copying share: depth
// first, in the order the listing yields entries, skipping every name that
// begins with "." at every depth. A folder that can't be listed counts as
// empty. Each level holds one listing, closed on every way out, exceptions
// thrown by the visitor included.
class LocalTreeWalker
{
public:
    using Visitor = std::function<WalkStep(const WalkItem &)>;

    explicit LocalTreeWalker(Visitor visitor);

    // False when the visitor stopped the walk.
    [[nodiscard]] bool walk(const QString &root);

private:
    [[nodiscard]] bool walkFolder(const QString &folder, const QString &relative, int depth);

    Visitor visit;
    // Real paths of the folders being walked: a linked folder that leads
    // back to one of them would otherwise be walked for ever.
    QStringList ancestors;
};

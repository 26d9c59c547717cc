#pragma once

#include "platform/LocalFolder.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace upgrade {

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

// A folder of the walk that exists but could not be listed to its end: it
// could not be opened, or reading it failed part-way (the entries before the
// failure have been visited).
struct WalkFailure
{
    QString localPath;      // the folder's full local path
    QString parentRelative; // its parent below the walk's root; empty for the root and the top
    int depth = 0;          // -1 for the root itself, else as for WalkItem
    QString reason;         // the system's words ("Permission denied")
};

// The one walk over local trees that measuring, checking and copying share:
// depth first, in the order the listing yields entries, skipping every name
// that begins with "." at every depth. A root that does not exist is an
// empty tree; a folder that exists but can't be listed is never taken for an
// empty one: it goes to the failure handler, and without one it stops the
// walk. Each level holds one listing, closed on every way out, exceptions
// thrown by the visitor included.
class LocalTreeWalker
{
public:
    using Visitor = std::function<WalkStep(const WalkItem &)>;
    // Stop ends the walk; Go and Skip go on with the folder's siblings.
    using FailureHandler = std::function<WalkStep(const WalkFailure &)>;

    explicit LocalTreeWalker(Visitor visitor, FailureHandler onListingFailure = {});

    // False when the visitor or the failure handler stopped the walk, or a
    // folder could not be listed and there is no failure handler.
    [[nodiscard]] bool walk(const QString &root);

private:
    [[nodiscard]] bool walkFolder(const QString &folder, const QString &relative, int depth);
    [[nodiscard]] bool listingFailed(const QString &folder, const QString &relative, int depth,
                                     const QString &reason);

    Visitor visit;
    FailureHandler onFailure;
    // Real paths of the folders being walked: a linked folder that leads
    // back to one of them would otherwise be walked for ever.
    QStringList ancestors;
};

} // namespace upgrade

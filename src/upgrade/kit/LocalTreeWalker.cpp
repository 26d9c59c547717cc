#include "upgrade/kit/LocalTreeWalker.h"

#include <QFileInfo>

#include <utility>

namespace upgrade {

LocalTreeWalker::LocalTreeWalker(Visitor visitor, FailureHandler onListingFailure)
    : visit(std::move(visitor))
    , onFailure(std::move(onListingFailure))
{
}

bool LocalTreeWalker::walk(const QString &root)
{
    ancestors.clear();
    // The root may be spelt in another letter case than on disk ("Target" for
    // "target"); the paths handed to the visitor must name the real entries.
    return walkFolder(platform::ResolveLocalPath(root).value_or(root), QString(), 0);
}

bool LocalTreeWalker::listingFailed(const QString &folder, const QString &relative, int depth,
                                    const QString &reason)
{
    if (!onFailure)
        return false;
    // The root is reported at depth -1 with no parent; a folder below it
    // with the depth and parent its entry had.
    const QString parent = depth == 0 ? QString() : relative.section(QLatin1Char('/'), 0, -2);
    return onFailure(WalkFailure{folder, parent, depth - 1, reason}) != WalkStep::Stop;
}

bool LocalTreeWalker::walkFolder(const QString &folder, const QString &relative, int depth)
{
    platform::FolderListing listing(folder);
    if (!listing.isOpen()) {
        // A missing root is an empty tree. A folder below it was listed as a
        // folder a moment ago: not finding it now is a failure like any other.
        if (listing.missing() && depth == 0)
            return true;
        return listingFailed(folder, relative, depth,
                             listing.missing() ? QStringLiteral("No such file or directory") : listing.errorString());
    }

    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    ancestors.append(realFolder);
    // Pops this level on every way out, the visitor's exceptions included.
    struct AncestorPop
    {
        QStringList &list;
        ~AncestorPop() { list.removeLast(); }
    } pop{ancestors};

    platform::FolderEntry entry;
    while (listing.next(entry)) {
        if (entry.name.startsWith(QLatin1Char('.')))
            continue;
        WalkItem item{entry, platform::JoinLocalPath(folder, entry.name), relative, depth, false};
        if (entry.isFolder())
            item.loopsBack = ancestors.contains(QFileInfo(item.localPath).canonicalFilePath());

        const WalkStep step = visit(item);
        if (step == WalkStep::Stop)
            return false;
        if (!entry.isFolder() || step == WalkStep::Skip || item.loopsBack)
            continue;

        const QString childRelative =
            relative.isEmpty() ? entry.name : relative + QLatin1Char('/') + entry.name;
        if (!walkFolder(item.localPath, childRelative, depth + 1))
            return false;
    }
    if (listing.failed())
        return listingFailed(folder, relative, depth, listing.errorString());
    return true;
}

} // namespace upgrade

#include "upgrade/LocalTreeWalker.h"

#include <QFileInfo>

#include <utility>

LocalTreeWalker::LocalTreeWalker(Visitor visitor)
    : visit(std::move(visitor))
{
}

bool LocalTreeWalker::walk(const QString &root)
{
    ancestors.clear();
    // The root may be spelt in another letter case than on disk ("Target" for
    // "target"); the paths handed to the visitor must name the real entries.
    return walkFolder(platform::ResolveLocalPath(root).value_or(root), QString(), 0);
}

bool LocalTreeWalker::walkFolder(const QString &folder, const QString &relative, int depth)
{
    platform::FolderListing listing(folder);
    if (!listing.isOpen())
        return true;

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
    return true;
}

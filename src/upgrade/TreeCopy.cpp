#include "upgrade/UpgradeWindow.h"

#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/LocalTreeWalker.h"

#include <QPlainTextEdit>
#include <QProgressBar>

#include <algorithm>

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

// The instrument's command lines quote paths with double quotes and end at a
// line feed, and nothing escapes either: such a name would break the command
// or smuggle in another one.
bool isSafeInstrumentName(const QString &name)
{
    return std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c == QLatin1Char('"') || isControl(c); });
}

// The memo shows one line per message: control characters of a bad name are
// written as \xNN so that the line stays one line.
QString printablePath(const QString &path)
{
    QString shown;
    for (const QChar c : path) {
        if (isControl(c))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace

QString TUpgradeWindow::localFolder(const QString &name) const
{
    // Local names compare without regard to case: "Target" also finds "target".
    const QString path = platform::JoinLocalPath(exeDir, name);
    return platform::ResolveLocalPath(path).value_or(path);
}

bool TUpgradeWindow::EnsureInstrumentFolder(const QString &parent, const QString &name)
{
    return linkForm->ChangeSubdirectory(parent, name) || linkForm->MakeDirectory(parent, name);
}

bool TUpgradeWindow::acceptInstrumentName(const QString &name, const QString &localPath)
{
    if (isSafeInstrumentName(name))
        return true;
    mmStatus->appendPlainText(QStringLiteral("Name not accepted by VX900 (double quote or control character): ")
                              + printablePath(localPath));
    return false;
}

void TUpgradeWindow::showCopyProgress()
{
    // With nothing measured the ratio means nothing: the bar waits for the
    // run to set it to the maximum. A file that grew since it was measured
    // must not push the bar past its end.
    if (totalBytes <= 0)
        return;
    const double ratio = 100.0 * static_cast<double>(copiedBytes) / static_cast<double>(totalBytes);
    ProgressBar->setValue(static_cast<int>(std::min(ratio, 100.0)));
}

bool TUpgradeWindow::CopyModule(ModuleEntry &entry)
{
    const QString target = localFolder(upgrade::LocalModuleRoot);
    const QString localRoot = entry.name.isEmpty() ? target : platform::JoinLocalPath(target, entry.name);
    if (!acceptInstrumentName(entry.name, localRoot))
        return false;
    if (!EnsureInstrumentFolder(upgrade::InstrumentRoot, entry.name))
        return false;
    return copyFolderTree(localRoot, upgrade::InstrumentRoot + entry.name, &entry);
}

bool TUpgradeWindow::CopyTree(const QString &localFolder, const QString &instrumentFolder)
{
    return copyFolderTree(localFolder, instrumentFolder, nullptr);
}

bool TUpgradeWindow::copyFolderTree(const QString &localRoot, const QString &instrumentRoot,
                                    const ModuleEntry *signalOwner)
{
    LocalTreeWalker walker([&](const WalkItem &item) {
        throwIfStopRequested();
        const QString &name = item.entry.name;
        const QString parent = item.parentRelative.isEmpty()
                                   ? instrumentRoot
                                   : instrumentRoot + QLatin1Char('/') + item.parentRelative;

        if (item.entry.isFolder()) {
            // The flag is read now, not when the module started: a box ticked
            // during the copy still counts for this module's signals.
            if (signalOwner && item.depth == 0 && name == upgrade::SignalFolder && !signalOwner->hasSignal)
                return WalkStep::Skip;
            if (!acceptInstrumentName(name, item.localPath))
                return WalkStep::Stop;
            if (item.loopsBack) {
                mmStatus->appendPlainText(QStringLiteral("Folder leads back into itself: ")
                                          + printablePath(item.localPath));
                return WalkStep::Stop;
            }
            return EnsureInstrumentFolder(parent, name) ? WalkStep::Go : WalkStep::Stop;
        }

        if (!acceptInstrumentName(name, item.localPath))
            return WalkStep::Stop;
        // A pipe, a device or a dangling link would block the upload or
        // fail it without saying which entry it was.
        if (!item.entry.isRegularFile()) {
            mmStatus->appendPlainText(QStringLiteral("Not a regular file, can't copy: ")
                                      + printablePath(item.localPath));
            return WalkStep::Stop;
        }
        mmStatus->appendPlainText(QStringLiteral("Copying... ") + name);
        if (!linkForm->UploadFile(item.localPath, parent + QLatin1Char('/') + name))
            return WalkStep::Stop;
        copiedBytes += item.entry.size;
        showCopyProgress();
        return WalkStep::Go;
    });
    return walker.walk(localRoot);
}

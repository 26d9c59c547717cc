#include "upgrade/UpgradeWindow.h"

#include "instrument/InstrumentName.h"
#include "instrument/Uvx900.h"
#include "upgrade/InstrumentLayout.h"
#include "upgrade/LocalTreeWalker.h"

#include <QPlainTextEdit>
#include <QProgressBar>

#include <algorithm>

using instrument::PrintablePath;

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
    if (instrument::FitsCommandLine(name))
        return true;
    mmStatus->appendPlainText(QStringLiteral("Name not accepted by VX900 (double quote or control character): ")
                              + PrintablePath(localPath));
    return false;
}

void TUpgradeWindow::reportUnlistedFolder(const WalkFailure &failure)
{
    mmStatus->appendPlainText(QStringLiteral("Folder can't be listed: %1 (%2)")
                                  .arg(PrintablePath(failure.localPath), failure.reason));
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
                                          + PrintablePath(item.localPath));
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
                                      + PrintablePath(item.localPath));
            return WalkStep::Stop;
        }
        mmStatus->appendPlainText(QStringLiteral("Copying... ") + name);
        if (!linkForm->UploadFile(item.localPath, parent + QLatin1Char('/') + name))
            return WalkStep::Stop;
        copiedBytes += item.entry.size;
        showCopyProgress();
        return WalkStep::Go;
    }, [this](const WalkFailure &failure) {
        // Its files would silently be missing on the instrument.
        reportUnlistedFolder(failure);
        return WalkStep::Stop;
    });
    return walker.walk(localRoot);
}

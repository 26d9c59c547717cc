#include "app/KitFolder.h"

#include "platform/LocalFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace app {

namespace {

// Any one of the three makes a kit: a catalogue from the INI file alone, or
// system files alone, is a kit the run can copy.
bool holdsKit(const QString &folder)
{
    return platform::FolderExists(platform::JoinLocalPath(folder, QStringLiteral("target")))
        || platform::FolderExists(platform::JoinLocalPath(folder, QStringLiteral("MainFrame")))
        || platform::FileExists(platform::JoinLocalPath(folder, QStringLiteral("vxUpgrade.ini")));
}

QString absoluteFolder(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

} // namespace

KitFolder resolveKitFolder(const std::optional<QString> &argument, const QString &programFolder,
                           const FolderChooser &choose)
{
    if (argument) {
        // Taken as given, as vxupgrade-cli takes --dir: the window shows
        // what the folder holds, and the title names it.
        if (!QFileInfo(*argument).isDir())
            return {KitFolder::Outcome::Error, {}, QStringLiteral("no folder \"%1\"").arg(*argument)};
        return {KitFolder::Outcome::Elsewhere, absoluteFolder(*argument), {}};
    }
    if (holdsKit(programFolder))
        return {};

    // Installed programs live in a folder of programs, never beside a kit.
    // A folder with nothing of a kit would give a window with nothing to
    // copy, so the chooser asks again, saying why; only the operator ends this.
    QString caption = QStringLiteral("Choose the kit folder (the one that holds target, MainFrame or vxUpgrade.ini)");
    QString startFolder = QDir::homePath();
    for (;;) {
        const QString chosen = choose(caption, startFolder);
        if (chosen.isEmpty())
            return {KitFolder::Outcome::Quit, {}, {}};
        if (holdsKit(chosen))
            return {KitFolder::Outcome::Elsewhere, absoluteFolder(chosen), {}};
        caption = QStringLiteral("%1 holds no target, MainFrame or vxUpgrade.ini: choose the kit folder")
                      .arg(QDir::toNativeSeparators(chosen));
        startFolder = chosen;
    }
}

QString askForKitFolder(const QString &caption, const QString &startFolder)
{
    return QFileDialog::getExistingDirectory(nullptr, caption, startFolder, QFileDialog::ShowDirsOnly);
}

QString titleWithKit(const QString &title, const KitFolder &kit)
{
    if (kit.outcome != KitFolder::Outcome::Elsewhere)
        return title;
    const QString name = QFileInfo(kit.folder).fileName();
    // The root folder has no name of its own.
    return QStringLiteral("%1 - %2").arg(title, name.isEmpty() ? kit.folder : name);
}

} // namespace app

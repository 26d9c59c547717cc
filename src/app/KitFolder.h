#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace app {

// Asks the operator for a folder: `caption` says what is wanted, the chooser
// opens at `startFolder`. An empty result is Cancel.
using FolderChooser = std::function<QString(const QString &caption, const QString &startFolder)>;

// The folder the window reads its kit from: "target", "MainFrame" and
// "vxUpgrade.ini".
struct KitFolder
{
    enum class Outcome {
        BesideProgram, // the program's own folder, as the window has always done
        Elsewhere,     // the folder given on the command line or chosen
        Quit,          // the operator cancelled the chooser
        Error,         // the folder given on the command line is no folder
    };
    Outcome outcome = Outcome::BesideProgram;
    QString folder; // Elsewhere: absolute, without a trailing separator
    QString error;  // Error: what is wrong, naming the folder
};

// The kit folder for a start with the command-line folder `argument` (if
// any) from the program folder `programFolder`. Without an argument the
// program folder serves when it holds any of a "target" folder, a
// "MainFrame" folder or a "vxUpgrade.ini" file (letter case aside, as the
// catalogue and the run read them); otherwise `choose` is asked until it
// names a folder that holds one, or is cancelled.
[[nodiscard]] KitFolder resolveKitFolder(const std::optional<QString> &argument, const QString &programFolder,
                                         const FolderChooser &choose);

// The desktop's folder chooser; needs the application object.
[[nodiscard]] QString askForKitFolder(const QString &caption, const QString &startFolder);

// `title` naming the kit's folder, so that the operator sees which kit the
// window has loaded; unchanged for the kit beside the program.
[[nodiscard]] QString titleWithKit(const QString &title, const KitFolder &kit);

} // namespace app

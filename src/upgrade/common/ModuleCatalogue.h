#pragma once

#include "upgrade/common/ModuleEntry.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace upgrade {

// The modules that have a box; names compare exactly, case-sensitively.
namespace ModuleName {
inline const QString KRN3 = QStringLiteral("KRN3");
inline const QString LPS3 = QStringLiteral("LPS3");
inline const QString QMX53 = QStringLiteral("QMX53");
inline const QString SBX3 = QStringLiteral("SBX3");
inline const QString PRZ53 = QStringLiteral("PRZ53");
} // namespace ModuleName

// The module catalogue of a program folder and the state of the module
// boxes: the one place that knows the five module names with a box, the
// rule that enables a box, and what ticking one does. The window shows the
// boxes as check boxes; the console ticks them from its options; the run
// reads them for the low-space question and locks two of them.
class ModuleCatalogue
{
public:
    // The module names that have a box, in the order in which an entry's
    // name is compared against them.
    [[nodiscard]] static const QStringList &BoxNames();

    // `exeDir` is the program's folder with its trailing separator.
    explicit ModuleCatalogue(QString exeDir);

    // Fills the catalogue once: from "vxUpgrade.ini" when a file of that
    // name lies in the program folder (whatever it holds), else from the
    // folders below "target".
    void Build();
    // Reads sections "ENTRY 1", "ENTRY 2", ... up to the first whose "id"
    // is missing, unreadable or -1.
    void LoadCatalogue(const QString &iniPath);
    // One entry per folder directly below "target", numbered by sorted name.
    void ScanTargetFolder();

    // The entries, in the order they were made.
    [[nodiscard]] ModuleList &entries() { return list; }
    [[nodiscard]] const ModuleList &entries() const { return list; }
    [[nodiscard]] std::size_t size() const { return list.size(); }
    [[nodiscard]] const std::unique_ptr<ModuleEntry> &at(std::size_t i) const { return list.at(i); }
    [[nodiscard]] const std::unique_ptr<ModuleEntry> &operator[](std::size_t i) const { return list[i]; }
    [[nodiscard]] ModuleList::const_iterator begin() const { return list.begin(); }
    [[nodiscard]] ModuleList::const_iterator end() const { return list.end(); }

    // Sets hasSignal of the first entry named exactly `name`; later entries
    // of that name are left alone, and no entry changes when none matches.
    void SetModuleSelected(const QString &name, bool selected);

    struct Box
    {
        bool enabled = false;
        bool ticked = false;
    };
    // The box of a module name; a name without a box has a box that is
    // neither enabled nor ticked.
    [[nodiscard]] Box box(const QString &name) const;
    // The box was ticked or unticked (by the operator or by code): it takes
    // the state and sets the module's hasSignal to it. A change of a box
    // that is already in that state does nothing, as a check box raises no
    // click then.
    void TickBox(const QString &name, bool ticked);
    // Disables and ticks an enabled box, selecting its module's signals for
    // good; a disabled box is left alone. True when the box was locked.
    bool LockBoxTicked(const QString &name);

    // Runs after a box has changed its state (not while the catalogue is
    // built: a view reads every box once it has been).
    std::function<void(const QString &name)> OnBoxChanged;

private:
    // Enables the box of a known module name when its SIGNAL folder exists.
    void ApplyCheckBoxRule(const ModuleEntry &entry);
    [[nodiscard]] qsizetype boxIndex(const QString &name) const;
    void boxChanged(qsizetype index);

    QString exeDir;
    ModuleList list;
    Box boxes[5];
};

} // namespace upgrade

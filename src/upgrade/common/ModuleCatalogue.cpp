#include "upgrade/common/ModuleCatalogue.h"

#include "platform/IniFile.h"
#include "platform/LocalFolder.h"

#include <algorithm>

namespace upgrade {

const QStringList &ModuleCatalogue::BoxNames()
{
    static const QStringList names{ModuleName::KRN3, ModuleName::LPS3, ModuleName::QMX53, ModuleName::SBX3,
                                   ModuleName::PRZ53};
    return names;
}

ModuleCatalogue::ModuleCatalogue(QString exeDir)
    : exeDir(std::move(exeDir))
{
}

void ModuleCatalogue::Build()
{
    // The file's existence alone decides, whatever it holds.
    const QString iniPath = exeDir + QStringLiteral("vxUpgrade.ini");
    if (platform::FileExists(iniPath))
        LoadCatalogue(iniPath);
    else
        ScanTargetFolder();
}

qsizetype ModuleCatalogue::boxIndex(const QString &name) const
{
    return BoxNames().indexOf(name);
}

void ModuleCatalogue::ApplyCheckBoxRule(const ModuleEntry &entry)
{
    const qsizetype index = boxIndex(entry.name);
    if (index < 0)
        return;
    // Only a folder counts: a plain file named SIGNAL leaves the box off.
    const QString signal = exeDir + QStringLiteral("target") + platform::LocalSeparator + entry.name
        + platform::LocalSeparator + QStringLiteral("SIGNAL");
    boxes[index].enabled = platform::FolderExists(signal);
    boxes[index].ticked = false;
}

void ModuleCatalogue::LoadCatalogue(const QString &iniPath)
{
    const platform::IniFile ini(iniPath);
    list.clear();
    // Ends at the first section whose "id" is missing, unreadable or -1, so
    // it runs at most once per section of the file, plus one.
    for (qint64 n = 1;; ++n) {
        const QString section = QStringLiteral("ENTRY %1").arg(n);
        const qint32 id = ini.ReadInteger(section, QStringLiteral("id"), -1);
        if (id == -1)
            break;
        auto entry = std::make_unique<ModuleEntry>();
        entry->id = id;
        entry->name = ini.ReadString(section, QStringLiteral("name"), QString());
        entry->hasSignal = ini.ReadBool(section, QStringLiteral("hasSignal"), false);
        ApplyCheckBoxRule(*entry);
        list.push_back(std::move(entry));
    }
}

void ModuleCatalogue::ScanTargetFolder()
{
    platform::FolderListing listing(exeDir + QStringLiteral("target"));
    platform::FolderEntry item;
    while (listing.next(item)) {
        if (item.name.startsWith(u'.') || !item.isFolder())
            continue;
        auto entry = std::make_unique<ModuleEntry>();
        entry->name = item.name;
        entry->hasSignal = false;
        ApplyCheckBoxRule(*entry);
        list.push_back(std::move(entry));
    }
    listing.close();

    // A scanned module has no id of its own, yet names its identification
    // folder "MID" + id on the instrument. Number the modules 1, 2, 3 ... in
    // the sorted order of their names: no two share a folder, and the same
    // set of module folders gives every module the same number on every run
    // and every machine, whatever order the file system lists them in, so a
    // NAME file written once stays right.
    std::vector<ModuleEntry *> byName;
    for (const auto &entry : list)
        byName.push_back(entry.get());
    std::sort(byName.begin(), byName.end(), [](const ModuleEntry *a, const ModuleEntry *b) {
        return QString::compare(a->name, b->name, Qt::CaseSensitive) < 0;
    });
    for (size_t i = 0; i < byName.size(); ++i)
        byName[i]->id = qint32(i + 1);
}

void ModuleCatalogue::SetModuleSelected(const QString &name, bool selected)
{
    for (const auto &entry : list) {
        if (entry->name == name) {
            entry->hasSignal = selected;
            return;
        }
    }
}

ModuleCatalogue::Box ModuleCatalogue::box(const QString &name) const
{
    const qsizetype index = boxIndex(name);
    return index < 0 ? Box{} : boxes[index];
}

void ModuleCatalogue::boxChanged(qsizetype index)
{
    if (OnBoxChanged)
        OnBoxChanged(BoxNames()[index]);
}

void ModuleCatalogue::TickBox(const QString &name, bool ticked)
{
    const qsizetype index = boxIndex(name);
    if (index < 0 || boxes[index].ticked == ticked)
        return;
    boxes[index].ticked = ticked;
    SetModuleSelected(name, ticked);
    boxChanged(index);
}

bool ModuleCatalogue::LockBoxTicked(const QString &name)
{
    const qsizetype index = boxIndex(name);
    if (index < 0 || !boxes[index].enabled)
        return false;
    boxes[index].enabled = false;
    boxes[index].ticked = true;
    // Set again even when the box was ticked already: the entry's flag may
    // have been changed since by other means.
    SetModuleSelected(name, true);
    boxChanged(index);
    return true;
}

} // namespace upgrade

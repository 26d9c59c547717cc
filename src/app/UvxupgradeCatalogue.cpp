// The module catalogue of TfrmMain: read from "vxUpgrade.ini" or made from
// the folders below "target", once, while the window is being made.
#include "app/Uvxupgrade.h"

#include "platform/IniFile.h"
#include "platform/LocalFolder.h"

#include <QCheckBox>

#include <algorithm>

QCheckBox *TfrmMain::CheckBoxOf(const QString &moduleName) const
{
    // The order in which a name is compared; exact, case-sensitive.
    const std::pair<const char16_t *, QCheckBox *> boxes[] = {
        {u"KRN3", cbKRN3}, {u"LPS3", cbLPS3}, {u"QMX53", cbQMX53}, {u"SBX3", cbSBX3}, {u"PRZ53", cbPRZ53},
    };
    for (const auto &[name, box] : boxes) {
        if (moduleName == QStringView(name))
            return box;
    }
    return nullptr;
}

void TfrmMain::ApplyCheckBoxRule(const ModuleEntry &entry)
{
    QCheckBox *box = CheckBoxOf(entry.name);
    if (!box)
        return;
    // Only a folder counts: a plain file named SIGNAL leaves the box off.
    const QString signal = exeDir + QStringLiteral("target") + platform::LocalSeparator + entry.name
        + platform::LocalSeparator + QStringLiteral("SIGNAL");
    box->setEnabled(platform::FolderExists(signal));
    box->setChecked(false);
}

void TfrmMain::LoadCatalogue(const QString &iniPath)
{
    const platform::IniFile ini(iniPath);
    moduleList->clear();
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
        moduleList->push_back(std::move(entry));
    }
}

void TfrmMain::ScanTargetFolder()
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
        moduleList->push_back(std::move(entry));
    }
    listing.close();

    // A scanned module has no id of its own, yet names its identification
    // folder "MID" + id on the instrument. Number the modules 1, 2, 3 ... in
    // the sorted order of their names: no two share a folder, and the same
    // set of module folders gives every module the same number on every run
    // and every machine, whatever order the file system lists them in, so a
    // NAME file written once stays right.
    std::vector<ModuleEntry *> byName;
    for (const auto &entry : *moduleList)
        byName.push_back(entry.get());
    std::sort(byName.begin(), byName.end(), [](const ModuleEntry *a, const ModuleEntry *b) {
        return QString::compare(a->name, b->name, Qt::CaseSensitive) < 0;
    });
    for (size_t i = 0; i < byName.size(); ++i)
        byName[i]->id = qint32(i + 1);
}

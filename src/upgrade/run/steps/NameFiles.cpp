#include "upgrade/run/UpgradeRun.h"

#include "ftp/TNMFTP.h"
#include "instrument/Uvx900.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/common/ModuleCatalogue.h"

#include <QDir>
#include <QTemporaryFile>

namespace upgrade {

namespace {

// A NAME file is the module's name and one CR LF, nothing else. The file is
// new and private (created exclusively, never through an existing link) and
// is removed when `file` goes out of scope, however that happens.
[[nodiscard]] bool writeNameFile(QTemporaryFile &file, const QString &moduleName)
{
    if (!file.open())
        return false;
    const QByteArray content = moduleName.toUtf8() + QByteArrayLiteral("\r\n");
    const bool written = file.write(content) == content.size() && file.flush();
    file.close();
    return written;
}

} // namespace

QString UpgradeRun::TemporaryFolderFor(const QProcessEnvironment &environment)
{
    // TEMP and TMP are seldom set on this platform, where TMPDIR and the
    // system's own folder name the temporary place; without the last two
    // every NAME file would be skipped.
    for (const char *variable : {"TEMP", "TMP", "TMPDIR"}) {
        const QString value = environment.value(QLatin1String(variable));
        if (!value.isEmpty())
            return value;
    }
    return QDir::tempPath();
}

bool UpgradeRun::MakeNameFiles()
{
    link.SetTransferType(TTransferType::Ascii);
    throwIfStopRequested();

    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        const ModuleEntry &entry = *catalogue[i];
        const QString folderName = QStringLiteral("MID") + QString::number(entry.id);
        if (!EnsureInstrumentFolder(upgrade::SystemFolder, folderName))
            return false;

        const QString folder = upgrade::SystemFolder + QLatin1Char('/') + folderName;
        // An existing NAME file is never rewritten, whatever it holds.
        if (link.HasDirectory(folder, QStringLiteral("NAME")))
            continue;

        QTemporaryFile file(QDir(TemporaryFolder).filePath(QStringLiteral("vxupgrade-NAME-XXXXXX")));
        if (!writeNameFile(file, entry.name)) {
            memo(QStringLiteral("*** ERROR ***"));
            memo(QStringLiteral("Can't open temporary NAME file"));
            continue;
        }
        // A failed upload has shown its box and throws; a false result would
        // only follow a failure someone marked handled, so the next module goes on.
        static_cast<void>(uploadFile({file.fileName(), folder + QStringLiteral("/NAME"), file.size(), false}, false));
        throwIfStopRequested();
    }
    return true;
}

} // namespace upgrade

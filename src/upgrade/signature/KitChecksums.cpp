#include "upgrade/signature/KitChecksums.h"

#include "instrument/InstrumentName.h"
#include "platform/Sha256.h"
#include "upgrade/common/InstrumentLayout.h"
#include "upgrade/signature/KitSignature.h"
#include "upgrade/kit/LocalTreeWalker.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace upgrade {
namespace {

void addFile(KitChecksums &sums, const QDir &kit, const QString &localPath)
{
    const QString relative = kit.relativeFilePath(localPath);
    const QString shown = instrument::PrintablePath(localPath);
    // A name a list line can't carry could never be checked against it.
    if (const QString problem = ChecksumPathProblem(relative); !problem.isEmpty()) {
        sums.problems << QStringLiteral("Name can't be listed (%1): %2").arg(problem, shown);
        return;
    }
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly)) {
        sums.problems << QStringLiteral("File can't be read: %1 (%2)").arg(shown, file.errorString());
        return;
    }
    platform::Sha256 hash;
    if (const platform::Sha256::FileRead read = hash.addFile(file); !read.ok()) {
        sums.problems << QStringLiteral("File can't be read: %1 (%2)").arg(shown, read.error);
        return;
    }
    sums.entries.append(ChecksumEntry{relative, hash.result()});
}

} // namespace

KitChecksums ComputeKitChecksums(const QString &givenFolder)
{
    // Absolute, so that the listed paths are the kit's own whichever way the
    // folder was named ("kit" must not put "kit/" before every path).
    const QString kitFolder = QFileInfo(givenFolder).absoluteFilePath();
    KitChecksums sums;
    const QDir kit(kitFolder);
    for (const QString &top : {LocalModuleRoot, LocalSystemFiles}) {
        const QString joined = platform::JoinLocalPath(kitFolder, top);
        LocalTreeWalker walker(
            [&](const WalkItem &item) {
                if (item.entry.isFolder())
                    return item.loopsBack ? WalkStep::Skip : WalkStep::Go;
                if (!item.entry.isRegularFile())
                    sums.problems << QStringLiteral("Not a regular file: %1")
                                         .arg(instrument::PrintablePath(item.localPath));
                else
                    addFile(sums, kit, item.localPath);
                return WalkStep::Go;
            },
            [&](const WalkFailure &failure) {
                sums.problems << QStringLiteral("Folder can't be listed: %1 (%2)")
                                     .arg(instrument::PrintablePath(failure.localPath), failure.reason);
                return WalkStep::Go;
            });
        static_cast<void>(walker.walk(platform::ResolveLocalPath(joined).value_or(joined)));
    }
    const QString ini = platform::JoinLocalPath(kitFolder, KitIniName);
    if (QFile::exists(ini))
        addFile(sums, kit, ini);
    std::sort(sums.entries.begin(), sums.entries.end(),
              [](const ChecksumEntry &a, const ChecksumEntry &b) { return a.path.toUtf8() < b.path.toUtf8(); });
    return sums;
}

QStringList WriteKitChecksums(const QString &kitFolder, int &written)
{
    written = 0;
    const KitChecksums sums = ComputeKitChecksums(kitFolder);
    if (!sums.problems.isEmpty())
        return sums.problems;
    // A list of nothing signs nothing; most likely the folder is not the kit.
    if (sums.entries.isEmpty())
        return {QStringLiteral("No kit files in %1: no file under target or MainFrame, and no %2")
                    .arg(instrument::PrintablePath(QDir::toNativeSeparators(kitFolder)), KitIniName)};
    QSaveFile file(platform::JoinLocalPath(kitFolder, ChecksumFileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(FormatChecksumList(sums.entries)) < 0 || !file.commit())
        return {QStringLiteral("Can't write %1: %2").arg(instrument::PrintablePath(file.fileName()), file.errorString())};
    written = int(sums.entries.size());
    return {};
}

} // namespace upgrade

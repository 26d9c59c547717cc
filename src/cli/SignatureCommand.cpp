#include "cli/SignatureCommand.h"

#include "cli/Console.h"
#include "cli/ExitStatus.h"
#include "upgrade/signature/KitChecksums.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace cli {

int writeChecksums(const QString &kitFolder)
{
    if (!QFileInfo(kitFolder).isDir()) {
        std::fprintf(stderr, "vxupgrade-cli: --write-checksums: no folder \"%s\"\n", qPrintable(kitFolder));
        return ExitUsage;
    }
    int written = 0;
    const QStringList problems = upgrade::WriteKitChecksums(kitFolder, written);
    for (const QString &problem : problems)
        std::fprintf(stderr, "vxupgrade-cli: %s\n", qPrintable(problem));
    if (!problems.isEmpty()) {
        std::fputs("vxupgrade-cli: SHA256 not written\n", stderr);
        return ExitFailed;
    }
    std::printf("%d files listed in %s\n", written,
                qPrintable(QDir::toNativeSeparators(QDir(kitFolder).filePath(QStringLiteral("SHA256")))));
    return ExitUpgraded;
}

std::optional<upgrade::RunSettings> runSettings(const CliOptions &options, Console &console)
{
    upgrade::RunSettings settings = upgrade::RunSettings::FromEnvironment();
    upgrade::SignaturePolicy &policy = settings.signaturePolicy;
    policy.required = policy.required || options.requireSignature || !options.trustedKeys.isEmpty();
    for (const QString &key : options.trustedKeys) {
        upgrade::TrustedKeys check;
        if (const QString problem = upgrade::ReadTrustedKey(key, check); !problem.isEmpty()) {
            console.printError(QStringLiteral("vxupgrade-cli: --trusted-key: ") + problem);
            return std::nullopt;
        }
        policy.keyFiles << QFileInfo(key).absoluteFilePath();
    }
    return settings;
}

} // namespace cli

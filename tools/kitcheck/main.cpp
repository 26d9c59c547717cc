// kitcheck DIR [--cache FILE] [--modules NAME,...] [--trusted-key FILE]
//
// Checks the kit in the program folder DIR as a run would before its first
// write, every module's SIGNAL folder ticked, and prints what it found and
// how long it took. With --cache the digests are cached in FILE (made when
// missing); run it twice to see the cached cost. --modules names the
// catalogue (default: every folder in DIR/target, sorted). With
// --trusted-key the kit's SHA256.sig is checked after pre-flight, as a run
// does, and that check is timed on its own.
#include "upgrade/kit/DigestCache.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/signature/KitSignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString cacheFile;
    QStringList names;
    QString folder;
    QString trustedKey;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--cache") && !args.isEmpty())
            cacheFile = args.takeFirst();
        else if (arg == QLatin1String("--trusted-key") && !args.isEmpty())
            trustedKey = args.takeFirst();
        else if (arg == QLatin1String("--modules") && !args.isEmpty())
            names = args.takeFirst().split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (folder.isEmpty() && !arg.startsWith(QLatin1String("--")))
            folder = arg;
        else {
            std::fprintf(stderr, "usage: kitcheck DIR [--cache FILE] [--modules NAME,...] [--trusted-key FILE]\n");
            return 2;
        }
    }
    if (folder.isEmpty()) {
        std::fprintf(stderr, "usage: kitcheck DIR [--cache FILE] [--modules NAME,...] [--trusted-key FILE]\n");
        return 2;
    }
    if (names.isEmpty())
        names = QDir(folder + QStringLiteral("/target")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    upgrade::ModuleList modules;
    for (int i = 0; i < names.size(); ++i)
        modules.push_back(std::make_unique<upgrade::ModuleEntry>(upgrade::ModuleEntry{i + 1, names[i], true}));

    QElapsedTimer timer;
    timer.start();
    std::optional<upgrade::DigestCache> cache;
    if (!cacheFile.isEmpty()) {
        cache.emplace(cacheFile);
        cache->load();
    }
    const upgrade::KitPlan plan = upgrade::CheckKit(folder, modules, cache ? &*cache : nullptr);
    const std::optional<QString> saved = cache ? cache->save() : std::nullopt;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    QTextStream out(stdout);
    for (const upgrade::KitProblem &problem : plan.problems)
        out << "problem: " << problem.text() << '\n';
    if (saved)
        out << "cache not saved: " << *saved << '\n';
    out << "files " << plan.files.size() << " folders " << plan.folders.size() << " bytes " << plan.totalBytes
        << " digested " << plan.bytesDigested << " cached " << plan.digestsFromCache << '\n';
    out << "kit " << plan.kitDigest() << '\n';
    out << "seconds " << QString::number(seconds, 'f', 3) << '\n';
    if (trustedKey.isEmpty())
        return plan.sendable() ? 0 : 1;

    upgrade::SignaturePolicy policy;
    policy.required = true;
    policy.keyFiles << trustedKey;
    timer.restart();
    const upgrade::SignatureCheck signature = upgrade::CheckKitSignature(plan, policy);
    const double signatureSeconds = double(timer.nsecsElapsed()) / 1e9;
    for (const QString &line : signature.lines)
        out << "signature: " << line << '\n';
    out << "signature check ms " << QString::number(signatureSeconds * 1000.0, 'f', 3) << '\n';
    // Again, with the crypto library's one-time start-up behind it: the
    // fastest and the middle of 21 checks.
    QList<double> again;
    for (int i = 0; i < 21; ++i) {
        timer.restart();
        static_cast<void>(upgrade::CheckKitSignature(plan, policy));
        again << double(timer.nsecsElapsed()) / 1e6;
    }
    std::sort(again.begin(), again.end());
    out << "signature check again ms min " << QString::number(again.first(), 'f', 3) << " median "
        << QString::number(again[again.size() / 2], 'f', 3) << '\n';
    return plan.sendable() && !signature.refused() ? 0 : 1;
}

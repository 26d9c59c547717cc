#include "upgrade/signature/KitSignature.h"

#include "platform/LocalFolder.h"
#include "platform/OutsideText.h"
#include "platform/Sha256.h"
#include "upgrade/signature/ChecksumList.h"
#include "upgrade/kit/KitPreflight.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace upgrade {
namespace {

// A hostile list could name a problem on every one of its lines.
constexpr int MaxLineProblemsShown = 20;

class SignatureChecker
{
public:
    SignatureChecker(const KitPlan &plan, const SignaturePolicy &policy)
        : plan(plan)
        , policy(policy)
        , kit(plan.kitFolder)
        , sigPath(platform::JoinLocalPath(plan.kitFolder, SignatureFileName))
    {
    }

    SignatureCheck run()
    {
        if (!QFileInfo::exists(sigPath)) {
            if (policy.required)
                refuse(QStringLiteral("Kit is not signed (no %1) and a signature is required").arg(SignatureFileName),
                       sigPath);
            return std::move(check);
        }
        const std::optional<SignifySignature> signature = readSignature();
        if (!signature)
            return std::move(check);
        const std::optional<QString> signer = findSigner(*signature);
        if (!signer)
            return std::move(check);
        compareKit(signature->message);
        if (!check.refused()) {
            check.verdict = SignatureVerdict::Accepted;
            check.kitPrefix = kitPrefix;
            check.lines << QStringLiteral("Kit signed by key %1 (%2), untrusted comment: %3")
                               .arg(QString::fromLatin1(check.keyNumber), *signer, check.comment);
        }
        return std::move(check);
    }

private:
    void refuse(const QString &what, const QString &path, const QString &detail = QString())
    {
        check.verdict = SignatureVerdict::Refused;
        check.lines << KitProblem{path, what, detail}.text();
    }

    // Nobody can vouch for the kit either way: refused under a policy, else
    // one line and the run goes on as it would for an unsigned kit.
    void cannotCheck(const QString &why)
    {
        if (policy.required) {
            refuse(QStringLiteral("Signature can't be checked, and a signature is required"), sigPath, why);
            return;
        }
        check.verdict = SignatureVerdict::Unchecked;
        check.lines << KitProblem{sigPath, QStringLiteral("Signature not checked, the run goes on without it"), why}
                           .text();
    }

    std::optional<SignifySignature> readSignature()
    {
        QFile file(sigPath);
        if (!file.open(QIODevice::ReadOnly)) {
            cannotCheck(file.errorString());
            return std::nullopt;
        }
        // Read to one byte past the bound, so that a file growing meanwhile
        // is caught too.
        const qint64 bound = MaxChecksumListBytes + 2 * MaxCommentBytes;
        const QByteArray bytes = file.read(bound + 1);
        if (bytes.size() > bound) {
            cannotCheck(QStringLiteral("larger than %1 MiB").arg(MaxChecksumListBytes / (1024 * 1024)));
            return std::nullopt;
        }
        const SignifyParsed<SignifySignature> parsed = ParseSignifyEmbedded(bytes);
        if (!parsed.value) {
            cannotCheck(QStringLiteral("not a signify signature: ") + parsed.error);
            return std::nullopt;
        }
        check.comment = platform::PrintableText(parsed.value->comment);
        return parsed.value;
    }

    // The trusted key file that verifies the signature.
    std::optional<QString> findSigner(const SignifySignature &signature)
    {
        const QString number = QString::fromLatin1(signature.keyNumber.toHex());
        const TrustedKeys trusted = LoadTrustedKeys(policy);
        check.lines << trusted.problems;
        bool claimed = false;
        for (const TrustedKey &key : trusted.keys) {
            if (key.key.keyNumber != signature.keyNumber)
                continue;
            claimed = true;
            if (VerifySignify(signature, key.key)) {
                check.keyNumber = number.toLatin1();
                return QDir::toNativeSeparators(key.file);
            }
        }
        if (!claimed) {
            cannotCheck(QStringLiteral("no trusted key has the number %1").arg(number));
            return std::nullopt;
        }
        // A list changed after signing, under the number of a key the
        // operator trusts: refused whatever the policy.
        refuse(QStringLiteral("Signature not valid under trusted key %1").arg(number), sigPath);
        return std::nullopt;
    }

    void compareKit(const QByteArray &message)
    {
        const ChecksumList list = ParseChecksumList(message);
        if (list.tooLarge) {
            refuse(QStringLiteral("Signed list refused as too large (more than %1 MiB or %2 lines)")
                       .arg(MaxChecksumListBytes / (1024 * 1024))
                       .arg(MaxChecksumListLines),
                   sigPath);
            return;
        }
        for (qsizetype i = 0; i < list.problems.size() && i < MaxLineProblemsShown; ++i) {
            const ChecksumLineProblem &bad = list.problems[i];
            refuse(QStringLiteral("Signed list line %1 not accepted").arg(bad.line), sigPath, bad.reason);
        }
        if (list.problems.size() > MaxLineProblemsShown)
            refuse(QStringLiteral("%1 more signed list lines not accepted").arg(list.problems.size() - MaxLineProblemsShown),
                   sigPath);

        check.signedDigests = list.digests;
        QSet<QString> seen;
        for (const PlannedFile &file : plan.files)
            compareFile(list, file.localPath, file.sha256, seen);
        const QString ini = platform::JoinLocalPath(kit.path(), KitIniName);
        if (QFile iniFile(ini); iniFile.open(QIODevice::ReadOnly)) {
            platform::Sha256 hash;
            if (const platform::Sha256::FileRead read = hash.addFile(iniFile); read.ok())
                compareFile(list, ini, hash.result(), seen);
            else
                refuse(QStringLiteral("File can't be read"), ini, read.error);
        }
        for (const ChecksumEntry &entry : list.entries) {
            if (seen.contains(entry.path))
                continue;
            const QString local = kit.filePath(entry.path);
            if (!QFileInfo(local).isFile() && !platform::FileExists(local))
                refuse(QStringLiteral("Listed in %1 but missing").arg(SignatureFileName), local);
        }
    }

    // The planned paths all begin with the kit's folder; QDir's general
    // answer costs more than the rest of the check together.
    QString relativePath(const QString &localPath) const
    {
        if (localPath.startsWith(kitPrefix))
            return localPath.mid(kitPrefix.size());
        return kit.relativeFilePath(localPath);
    }

    void compareFile(const ChecksumList &list, const QString &localPath, const QByteArray &sha256, QSet<QString> &seen)
    {
        QString relative = relativePath(localPath);
        auto listed = list.digests.constFind(relative);
        if (listed == list.digests.cend()) {
            // The kit's folders are found without regard to case; the list
            // names them as they are on disk.
            if (const std::optional<QString> onDisk = platform::ResolveLocalPath(localPath)) {
                relative = relativePath(*onDisk);
                listed = list.digests.constFind(relative);
            }
        }
        if (listed == list.digests.cend()) {
            refuse(QStringLiteral("File not listed in %1").arg(SignatureFileName), localPath);
            return;
        }
        seen.insert(relative);
        if (*listed != sha256)
            refuse(QStringLiteral("File differs from its signed digest"), localPath);
    }

    const KitPlan &plan;
    const SignaturePolicy &policy;
    const QDir kit;
    const QString kitPrefix = platform::JoinLocalPath(QDir::cleanPath(plan.kitFolder), QString());
    const QString sigPath;
    SignatureCheck check;
};

} // namespace

SignatureCheck CheckKitSignature(const KitPlan &plan, const SignaturePolicy &policy)
{
    return SignatureChecker(plan, policy).run();
}

std::optional<QString> LateFileProblem(const SignatureCheck &check, const PlannedFile &file)
{
    if (check.verdict != SignatureVerdict::Accepted)
        return std::nullopt;
    const auto relative = [&](const QString &path) {
        return path.startsWith(check.kitPrefix) ? path.mid(check.kitPrefix.size()) : QString();
    };
    auto listed = check.signedDigests.constFind(relative(file.localPath));
    if (listed == check.signedDigests.cend()) {
        if (const std::optional<QString> onDisk = platform::ResolveLocalPath(file.localPath))
            listed = check.signedDigests.constFind(relative(*onDisk));
    }
    if (listed == check.signedDigests.cend())
        return KitProblem{file.localPath, QStringLiteral("File not listed in %1").arg(SignatureFileName), {}}.text();
    if (*listed != file.sha256)
        return KitProblem{file.localPath, QStringLiteral("File differs from its signed digest"), {}}.text();
    return std::nullopt;
}

} // namespace upgrade

#include "upgrade/signature/SignaturePolicy.h"

#include "instrument/InstrumentName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace upgrade {

QString ReadTrustedKey(const QString &file, TrustedKeys &into)
{
    QFile keyFile(file);
    const QString shown = instrument::PrintablePath(file);
    if (!QFileInfo(file).isFile())
        return QStringLiteral("Trusted key is not a file: %1").arg(shown);
    if (keyFile.size() > MaxKeyFileBytes)
        return QStringLiteral("Trusted key is too large to be a signify key: %1").arg(shown);
    if (!keyFile.open(QIODevice::ReadOnly))
        return QStringLiteral("Trusted key can't be read: %1 (%2)").arg(shown, keyFile.errorString());
    const SignifyParsed<SignifyPublicKey> parsed = ParseSignifyPublicKey(keyFile.read(MaxKeyFileBytes));
    if (!parsed.value)
        return QStringLiteral("Trusted key is not a signify public key: %1 (%2)").arg(shown, parsed.error);
    into.keys.append(TrustedKey{file, *parsed.value});
    return QString();
}

TrustedKeys LoadTrustedKeys(const SignaturePolicy &policy)
{
    TrustedKeys trusted;
    QStringList files = policy.keyFiles;
    for (const QString &folder : policy.keyFolders) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
            files << dir.filePath(name);
    }
    for (const QString &file : std::as_const(files)) {
        if (const QString problem = ReadTrustedKey(file, trusted); !problem.isEmpty())
            trusted.problems << problem;
    }
    return trusted;
}

} // namespace upgrade

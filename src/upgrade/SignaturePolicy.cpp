#include "upgrade/SignaturePolicy.h"

#include "instrument/InstrumentName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace upgrade {
namespace {

const QString SettingsName = QStringLiteral("vxupgrade.conf");

std::optional<bool> parseSwitch(const QString &value)
{
    const QString v = value.toLower();
    if (v == QLatin1String("yes") || v == QLatin1String("true") || v == QLatin1String("1") || v == QLatin1String("on"))
        return true;
    if (v == QLatin1String("no") || v == QLatin1String("false") || v == QLatin1String("0") || v == QLatin1String("off"))
        return false;
    return std::nullopt;
}

} // namespace

QString SignaturePolicy::ConfigFolder(const QProcessEnvironment &environment)
{
    // XDG's base directory rules ignore a relative XDG_CONFIG_HOME.
    QString base = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vxupgrade");
}

QStringList SignaturePolicy::DefaultKeyFolders(const QProcessEnvironment &environment)
{
    QString system = environment.value(QStringLiteral("VXUPGRADE_SYSTEM_KEYS"));
    if (system.isEmpty())
        system = QStringLiteral("/etc/vxupgrade/trusted-keys");
    return {ConfigFolder(environment) + QStringLiteral("/trusted-keys"), system};
}

SignaturePolicy SignaturePolicy::FromEnvironment(const QProcessEnvironment &environment)
{
    SignaturePolicy policy;
    policy.keyFolders = DefaultKeyFolders(environment);
    QFile settings(ConfigFolder(environment) + QLatin1Char('/') + SettingsName);
    if (!settings.exists())
        return policy;
    if (settings.size() > 64 * 1024 || !settings.open(QIODevice::ReadOnly)) {
        policy.settingProblems << QStringLiteral("Settings can't be read, a signature is required: %1")
                                      .arg(settings.fileName());
        policy.required = true;
        return policy;
    }
    policy.readSettings(settings.readAll(), settings.fileName());
    return policy;
}

void SignaturePolicy::readSettings(const QByteArray &text, const QString &fileName)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : line.mid(equals + 1).trimmed();
        const std::optional<bool> on = parseSwitch(value);
        if (key == QLatin1String("require-signature") && on) {
            required = required || *on;
        } else if (key == QLatin1String("backup") && on) {
            backup = *on;
        } else if (key == QLatin1String("history-file") && !value.isEmpty()) {
            historyFile = QFileInfo(fileName).dir().absoluteFilePath(value);
        } else if (key == QLatin1String("trusted-key") && !value.isEmpty()) {
            keyFiles << value;
            required = true;
        } else {
            // A setting about trust that can't be read must not loosen it.
            settingProblems << QStringLiteral("Setting not understood, a signature is required: %1 line %2")
                                   .arg(instrument::PrintablePath(fileName))
                                   .arg(i + 1);
            required = true;
        }
    }
}

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

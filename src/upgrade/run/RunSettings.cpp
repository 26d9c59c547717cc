#include "upgrade/run/RunSettings.h"

#include "instrument/InstrumentName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

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

QString RunSettings::ConfigFolder(const QProcessEnvironment &environment)
{
    // XDG's base directory rules ignore a relative XDG_CONFIG_HOME.
    QString base = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/vxupgrade");
}

QStringList RunSettings::DefaultKeyFolders(const QProcessEnvironment &environment)
{
    QString system = environment.value(QStringLiteral("VXUPGRADE_SYSTEM_KEYS"));
    if (system.isEmpty())
        system = QStringLiteral("/etc/vxupgrade/trusted-keys");
    return {ConfigFolder(environment) + QStringLiteral("/trusted-keys"), system};
}

RunSettings RunSettings::FromEnvironment(const QProcessEnvironment &environment)
{
    RunSettings settings;
    settings.signaturePolicy.keyFolders = DefaultKeyFolders(environment);
    QFile file(ConfigFolder(environment) + QLatin1Char('/') + SettingsName);
    if (!file.exists())
        return settings;
    if (file.size() > 64 * 1024 || !file.open(QIODevice::ReadOnly)) {
        settings.signaturePolicy.settingProblems
            << QStringLiteral("Settings can't be read, a signature is required: %1").arg(file.fileName());
        settings.signaturePolicy.required = true;
        return settings;
    }
    settings.read(file.readAll(), file.fileName());
    return settings;
}

void RunSettings::read(const QByteArray &text, const QString &fileName)
{
    SignaturePolicy &policy = signaturePolicy;
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
            policy.required = policy.required || *on;
        } else if (key == QLatin1String("backup") && on) {
            backup = *on;
        } else if (key == QLatin1String("history-file") && !value.isEmpty()) {
            historyFile = QFileInfo(fileName).dir().absoluteFilePath(value);
        } else if (key == QLatin1String("trusted-key") && !value.isEmpty()) {
            policy.keyFiles << value;
            policy.required = true;
        } else {
            // A setting about trust that can't be read must not loosen it.
            policy.settingProblems << QStringLiteral("Setting not understood, a signature is required: %1 line %2")
                                   .arg(instrument::PrintablePath(fileName))
                                   .arg(i + 1);
            policy.required = true;
        }
    }
}

} // namespace upgrade

#pragma once

#include "upgrade/signature/SignaturePolicy.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace upgrade {

// The settings file, vxupgrade.conf in the user's configuration folder:
// the signature policy it tightens and where the runs go on record.
struct RunSettings
{
    // The default key folders, tightened by the file's settings about trust.
    SignaturePolicy signaturePolicy;
    // Where the history, its index and the digest cache go instead of the
    // state folder ("history-file = PATH"; relative to the settings file's
    // folder). Empty: the default.
    QString historyFile;
    // "backup = yes": CLI runs take a snapshot as with --backup.
    bool backup = false;

    // $XDG_CONFIG_HOME/vxupgrade (~/.config/vxupgrade by default).
    [[nodiscard]] static QString ConfigFolder(const QProcessEnvironment &environment);
    // ConfigFolder()/trusted-keys, then the system's folder:
    // $VXUPGRADE_SYSTEM_KEYS when set (tests, packaging), else
    // /etc/vxupgrade/trusted-keys.
    [[nodiscard]] static QStringList DefaultKeyFolders(const QProcessEnvironment &environment);
    // The default folders, and the settings of ConfigFolder()/vxupgrade.conf
    // when there is one.
    [[nodiscard]] static RunSettings FromEnvironment(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Adds the settings of a vxupgrade.conf:
    //     require-signature = yes|no
    //     trusted-key = /path/to/publisher.pub      (may be repeated)
    //     history-file = /shared/lab/history.jsonl
    //     backup = yes|no
    // "#" starts a comment line; blank lines are skipped.
    void read(const QByteArray &text, const QString &fileName);
};

} // namespace upgrade

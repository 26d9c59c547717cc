#pragma once

#include "upgrade/SignifyFile.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace upgrade {

// Which signify keys a run trusts for a kit's SHA256.sig, and whether it
// refuses a kit that is not signed by one of them.
struct SignaturePolicy
{
    // Refuse every kit whose SHA256.sig is missing, can't be checked or
    // does not match. Without it only a kit that a trusted key shows to be
    // changed (or whose signature a trusted key's number claims but fails)
    // is refused.
    bool required = false;
    QStringList keyFiles;   // named trusted keys
    QStringList keyFolders; // every file in them not beginning with "." is a trusted key
    // Lines of the settings file that were not understood: one memo line
    // each. A policy read from a damaged file requires a signature.
    QStringList settingProblems;
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
    [[nodiscard]] static SignaturePolicy FromEnvironment(
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Adds the settings of a vxupgrade.conf:
    //     require-signature = yes|no
    //     trusted-key = /path/to/publisher.pub      (may be repeated)
    //     history-file = /shared/lab/history.jsonl
    // "#" starts a comment line; blank lines are skipped.
    void readSettings(const QByteArray &text, const QString &fileName);
};

struct TrustedKey
{
    QString file;
    SignifyPublicKey key;
};

struct TrustedKeys
{
    QList<TrustedKey> keys;
    QStringList problems; // one line each: a key file that can't be used
};

// A key file is small; a bigger one is not a key.
inline constexpr qint64 MaxKeyFileBytes = 4096;

// Reads one public key file; the problem line when it can't be used.
[[nodiscard]] QString ReadTrustedKey(const QString &file, TrustedKeys &into);
// Every key of the policy: the named files, then each folder's files in
// name order. A folder that does not exist holds no keys.
[[nodiscard]] TrustedKeys LoadTrustedKeys(const SignaturePolicy &policy);

} // namespace upgrade

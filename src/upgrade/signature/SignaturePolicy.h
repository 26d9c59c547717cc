#pragma once

#include "upgrade/signature/SignifyFile.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace upgrade {

// Which signify keys a run trusts for a kit's SHA256.sig, and whether it
// refuses a kit that is not signed by one of them. The settings file and
// the command line fill it in (RunSettings).
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

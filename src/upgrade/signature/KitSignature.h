#pragma once

#include "upgrade/signature/SignaturePolicy.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace upgrade {

struct KitPlan;
struct PlannedFile;

inline const QString SignatureFileName = QStringLiteral("SHA256.sig");
inline const QString ChecksumFileName = QStringLiteral("SHA256");
inline const QString KitIniName = QStringLiteral("vxUpgrade.ini");

enum class SignatureVerdict {
    Unsigned,  // no SHA256.sig and no policy: nothing to say
    Unchecked, // no trusted key could check it and no policy: the run goes on
    Accepted,  // valid under a trusted key, and the kit matches its list
    Refused,   // the run must not write anything
};

struct SignatureCheck
{
    SignatureVerdict verdict = SignatureVerdict::Unsigned;
    // For the memo, in order: one line per problem, each with its path, or
    // the one line of an accepted or unchecked signature.
    QStringList lines;
    QByteArray keyNumber; // lower-case hex of the signer's key number, once a trusted key verified it
    QString comment;      // the signature's untrusted comment, control characters removed
    // Once accepted: the signed list, by kit-relative path, for files the
    // copy reaches that pre-flight did not read.
    QHash<QString, QByteArray> signedDigests;
    QString kitPrefix;

    [[nodiscard]] bool refused() const { return verdict == SignatureVerdict::Refused; }
};

// Checks the kit that `plan` describes against the SHA256.sig at its root:
// the signature under a trusted key, then every planned file and
// vxUpgrade.ini against the signed list by the digests the plan already
// holds (only vxUpgrade.ini is read), and every listed file for existence.
// Reads nothing of the kit when there is no SHA256.sig.
[[nodiscard]] SignatureCheck CheckKitSignature(const KitPlan &plan, const SignaturePolicy &policy);

// A file read after pre-flight (its SIGNAL box ticked during the copy)
// against an accepted signature: the memo line that refuses it, or nothing.
[[nodiscard]] std::optional<QString> LateFileProblem(const SignatureCheck &check, const PlannedFile &file);

} // namespace upgrade

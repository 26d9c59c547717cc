#pragma once

#include <QString>
#include <QStringList>

// The real signify-openbsd, run for a test: keys and signatures made by the
// tool a kit's publisher uses. Each call gives nothing on success, else what
// went wrong (for QVERIFY2).
namespace signify {

// Runs signify-openbsd with `arguments` in `folder`; bounded to 60 s.
[[nodiscard]] QString run(const QStringList &arguments, const QString &folder = QString());
// A key pair without a passphrase: `base`.pub and `base`.sec.
[[nodiscard]] QString generate(const QString &base);
// `message` signed into `signatureFile`, with the message embedded.
[[nodiscard]] QString signEmbedded(const QString &secretKey, const QString &message, const QString &signatureFile);

} // namespace signify

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace upgrade {

// OpenBSD signify's Ed25519 files: a line "untrusted comment: ..." and a
// line of base64 holding "Ed", the 8-byte key number and the key or the
// signature; an embedded signature is followed by the message it signs.

struct SignifyPublicKey
{
    QByteArray keyNumber; // 8 bytes
    QByteArray key;       // 32 bytes, Ed25519
    QString comment;      // as written, unchecked
};

struct SignifySignature
{
    QByteArray keyNumber; // 8 bytes
    QByteArray signature; // 64 bytes, Ed25519
    QString comment;      // as written, unchecked
    QByteArray message;   // the signed bytes that follow the two lines
};

// A parsed file, or why the bytes are not one.
template<typename T>
struct SignifyParsed
{
    std::optional<T> value;
    QString error; // empty when `value` holds the file
};

// Signify keeps comments below 1024 bytes; a longer first line is no
// signify file.
inline constexpr qsizetype MaxCommentBytes = 1024;

[[nodiscard]] SignifyParsed<SignifyPublicKey> ParseSignifyPublicKey(const QByteArray &bytes);
[[nodiscard]] SignifyParsed<SignifySignature> ParseSignifyEmbedded(const QByteArray &bytes);

// The signature is valid for its message under the key. The key numbers are
// not compared here: they only tell which key to try.
[[nodiscard]] bool VerifySignify(const SignifySignature &signature, const SignifyPublicKey &key);

} // namespace upgrade

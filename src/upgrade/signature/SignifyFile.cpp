#include "upgrade/signature/SignifyFile.h"

#include <openssl/evp.h>

#include <memory>

namespace upgrade {
namespace {

const QByteArray CommentPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray Algorithm = QByteArrayLiteral("Ed");
constexpr qsizetype KeyNumberBytes = 8;
constexpr qsizetype PublicKeyBytes = 32;
constexpr qsizetype SignatureBytes = 64;

struct Lines
{
    QString comment;
    QByteArray blob; // the second line, decoded
    QByteArray rest; // what follows the second line's end
};

// The two lines every signify file begins with, the second decoded to
// exactly `blobBytes` bytes of the Ed25519 kind.
SignifyParsed<Lines> readLines(const QByteArray &bytes, qsizetype blobBytes)
{
    SignifyParsed<Lines> parsed;
    const qsizetype firstEnd = bytes.indexOf('\n');
    if (firstEnd < 0 || !bytes.startsWith(CommentPrefix)) {
        parsed.error = QStringLiteral("no \"untrusted comment:\" line");
        return parsed;
    }
    if (firstEnd > MaxCommentBytes + CommentPrefix.size()) {
        parsed.error = QStringLiteral("comment longer than %1 bytes").arg(MaxCommentBytes);
        return parsed;
    }
    const qsizetype secondEnd = bytes.indexOf('\n', firstEnd + 1);
    if (secondEnd < 0) {
        parsed.error = QStringLiteral("cut short after the comment");
        return parsed;
    }
    const QByteArray encoded = bytes.mid(firstEnd + 1, secondEnd - firstEnd - 1);
    // The line is fixed in length; a longer one is refused before decoding.
    if (encoded.size() != ((blobBytes + 2) / 3) * 4) {
        parsed.error = QStringLiteral("key or signature line of the wrong length");
        return parsed;
    }
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != blobBytes) {
        parsed.error = QStringLiteral("key or signature line is not base64 of the right length");
        return parsed;
    }
    if (!decoded.decoded.startsWith(Algorithm)) {
        parsed.error = QStringLiteral("not an Ed25519 key or signature");
        return parsed;
    }
    parsed.value = Lines{QString::fromUtf8(bytes.mid(CommentPrefix.size(), firstEnd - CommentPrefix.size())),
                         decoded.decoded, bytes.mid(secondEnd + 1)};
    return parsed;
}

struct PkeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

SignifyParsed<SignifyPublicKey> ParseSignifyPublicKey(const QByteArray &bytes)
{
    SignifyParsed<SignifyPublicKey> parsed;
    const SignifyParsed<Lines> lines = readLines(bytes, Algorithm.size() + KeyNumberBytes + PublicKeyBytes);
    if (!lines.value) {
        parsed.error = lines.error;
        return parsed;
    }
    if (!lines.value->rest.trimmed().isEmpty()) {
        parsed.error = QStringLiteral("more than a public key");
        return parsed;
    }
    const QByteArray &blob = lines.value->blob;
    parsed.value = SignifyPublicKey{blob.mid(Algorithm.size(), KeyNumberBytes),
                                    blob.mid(Algorithm.size() + KeyNumberBytes), lines.value->comment};
    return parsed;
}

SignifyParsed<SignifySignature> ParseSignifyEmbedded(const QByteArray &bytes)
{
    SignifyParsed<SignifySignature> parsed;
    const SignifyParsed<Lines> lines = readLines(bytes, Algorithm.size() + KeyNumberBytes + SignatureBytes);
    if (!lines.value) {
        parsed.error = lines.error;
        return parsed;
    }
    const QByteArray &blob = lines.value->blob;
    parsed.value = SignifySignature{blob.mid(Algorithm.size(), KeyNumberBytes),
                                    blob.mid(Algorithm.size() + KeyNumberBytes), lines.value->comment,
                                    lines.value->rest};
    return parsed;
}

bool VerifySignify(const SignifySignature &signature, const SignifyPublicKey &key)
{
    if (key.key.size() != PublicKeyBytes || signature.signature.size() != SignatureBytes)
        return false;
    const std::unique_ptr<EVP_PKEY, PkeyFree> pkey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(key.key.constData()),
        std::size_t(key.key.size())));
    const std::unique_ptr<EVP_MD_CTX, MdCtxFree> context(EVP_MD_CTX_new());
    if (!pkey || !context)
        return false;
    // Ed25519 hashes the message itself: no digest is named.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.signature.constData()),
                            std::size_t(signature.signature.size()),
                            reinterpret_cast<const unsigned char *>(signature.message.constData()),
                            std::size_t(signature.message.size()))
        == 1;
}

} // namespace upgrade

#include "platform/Sha256.h"

#include "platform/Exception.h"

#include <QFile>

#include <openssl/evp.h>

namespace platform {
namespace {

// Large enough that the digest, not the calls, sets the pace; small enough
// to stay in the processor's cache between the read and the digest.
constexpr qint64 ReadChunk = 256 * 1024;

} // namespace

struct Sha256::Context
{
    struct Free
    {
        void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> evp{EVP_MD_CTX_new()};
    std::unique_ptr<char[]> buffer;
};

Sha256::Sha256()
    : context(std::make_unique<Context>())
{
    restart();
}

Sha256::~Sha256() = default;

void Sha256::restart()
{
    // Fails only without memory, or with a libcrypto that lacks SHA-256.
    if (!context->evp || EVP_DigestInit_ex(context->evp.get(), EVP_sha256(), nullptr) != 1)
        throw Exception(QStringLiteral("SHA-256 is not available from libcrypto"));
}

void Sha256::add(QByteArrayView bytes)
{
    if (!bytes.isEmpty() && EVP_DigestUpdate(context->evp.get(), bytes.data(), std::size_t(bytes.size())) != 1)
        throw Exception(QStringLiteral("SHA-256 digest failed"));
}

Sha256::FileRead Sha256::addFile(QFile &file)
{
    if (!context->buffer)
        context->buffer = std::make_unique<char[]>(ReadChunk);
    FileRead read;
    for (;;) {
        const qint64 n = file.read(context->buffer.get(), ReadChunk);
        if (n < 0) {
            read.error = file.errorString();
            restart();
            return read;
        }
        if (n == 0)
            return read;
        add(QByteArrayView(context->buffer.get(), n));
        read.bytes += n;
    }
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context->evp.get(), reinterpret_cast<unsigned char *>(digest.data()), &length) != 1)
        throw Exception(QStringLiteral("SHA-256 digest failed"));
    digest.truncate(int(length));
    restart();
    return digest;
}

QByteArray Sha256::of(QByteArrayView bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.result();
}

} // namespace platform

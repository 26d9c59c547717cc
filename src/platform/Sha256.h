#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QFile;

namespace platform {

// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them: an order of magnitude faster than a
// portable implementation, and a kit's first run reads every byte of it.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void add(QByteArrayView bytes);

    // What reading a file into the digest came to.
    struct FileRead
    {
        qint64 bytes = 0; // read and added
        QString error;    // the system's words; empty when the end was reached
        [[nodiscard]] bool ok() const { return error.isEmpty(); }
    };
    // Adds `file` from its current position to its end. After an error the
    // digest starts afresh.
    [[nodiscard]] FileRead addFile(QFile &file);

    // The raw 32-byte digest of everything added since the last result; the
    // object starts afresh.
    [[nodiscard]] QByteArray result();

    [[nodiscard]] static QByteArray of(QByteArrayView bytes);

private:
    void restart();

    struct Context;
    std::unique_ptr<Context> context;
};

} // namespace platform

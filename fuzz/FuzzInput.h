#pragma once

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <cstdio>

// The fuzzer's bytes as a QByteArray, without a copy.
inline QByteArray fuzzBytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A broken promise of the code under test: libFuzzer records the input.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)

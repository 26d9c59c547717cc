#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

namespace upgrade {

// A SHA256 list in the BSD form that `sha256sum --tag` writes and signify
// checks: one "SHA256 (PATH) = HEX" line per file, PATH relative to the
// folder the list lies in.

struct ChecksumEntry
{
    QString path;      // "/"-joined, relative
    QByteArray sha256; // raw, 32 bytes
};

// A line the list's reader would not take, by its number (from 1).
struct ChecksumLineProblem
{
    int line = 0;
    QString reason;
};

struct ChecksumList
{
    QHash<QString, QByteArray> digests; // path -> raw digest
    QList<ChecksumEntry> entries;       // in list order, each path once
    QList<ChecksumLineProblem> problems;
    bool tooLarge = false;              // refused whole, unread
};

// Bounds on a list from outside: far beyond any kit (the digest cache keeps
// 100,000 files), small enough to read at once.
inline constexpr qsizetype MaxChecksumListBytes = 16 * 1024 * 1024;
inline constexpr int MaxChecksumListLines = 100000;

// Reads every line; a path that is absolute, climbs with "..", has an empty
// or "." component, or holds a control character is a problem of its line,
// as is a path listed twice. A list over the bounds is not read at all.
[[nodiscard]] ChecksumList ParseChecksumList(const QByteArray &bytes);

// The path is one a list may name: relative, inside its folder, printable.
// Empty when it is, else why not.
[[nodiscard]] QString ChecksumPathProblem(const QString &path);

// The list's text, one line per entry in the order given.
[[nodiscard]] QByteArray FormatChecksumList(const QList<ChecksumEntry> &entries);

} // namespace upgrade

#pragma once

#include "FtpResult.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Reading what a server says about its features (FEAT, RFC 2389) and about
// a folder's entries (MLSD, RFC 3659). A listing comes from the peer, so
// every rule here is bounded and refuses what a file we sent can't look like.
namespace FtpListing {

// What the run can ask of the server beyond the commands every server has.
struct Features
{
    bool mlsd = false;     // MLST/MLSD are offered
    bool mlsdSize = false; // and their entries carry the size fact by default
    bool size = false;     // SIZE is named (servers that lack FEAT may still have it)
    bool hashSha256 = false;         // HASH is offered with SHA-256 among its algorithms
    bool hashSha256Selected = false; // and SHA-256 is the one selected
    // Failed when FEAT got no answer (a socket error, a time-out).
    FtpResult outcome;
};

// The features named by the lines of a FEAT reply (first and last line
// included). A reply that is no 211 names nothing.
[[nodiscard]] Features ParseFeatures(const QList<QByteArray> &replyLines);

// One entry of a folder listing.
struct Entry
{
    QString name;
    bool folder = false;
    qint64 size = -1; // -1: the entry carries no size
};

// One line of an MLSD listing: an entry, nothing (the folder itself or its
// parent), or why the line can't be trusted.
struct Line
{
    std::optional<Entry> entry;
    QString problem; // empty unless the line is malformed or hostile
};

// Bounds of one folder's listing: a folder of the instrument holds a few
// hundred files at most, so these leave room for any real one.
inline constexpr int MaxEntries = 100000;
inline constexpr qsizetype MaxBytes = 16 * 1024 * 1024;
// Sizes beyond this (about 1 EB) are no file's: the fact is refused.
inline constexpr int MaxSizeDigits = 18;

// "fact=value;fact=value; name" with its line end. Names holding control
// characters are refused: no file the tool sends has one, and echoing them
// to a terminal or a memo would let the server write there.
[[nodiscard]] Line ParseMlsdLine(const QByteArray &line);

} // namespace FtpListing

namespace FtpListing {

// The server's answer to MLSD for one folder.
struct Listing
{
    enum class Kind {
        Listed,    // every entry read, and the server's 226 (or 250)
        Refused,   // the server refused the listing (code and reply line say how)
        Malformed, // the listing came but can't be trusted (problem says why)
    };
    Kind kind = Kind::Refused;
    QList<Entry> entries; // files and folders, not the folder itself
    int code = 0;         // the refusing or closing reply's number
    QString replyLine;    // line end removed
    QString problem;
    // Failed when the dialogue did (a socket error, a time-out): then the
    // rest means nothing.
    FtpResult outcome;
};

} // namespace FtpListing

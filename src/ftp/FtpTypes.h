#pragma once

#include "FtpResult.h"

#include <QByteArray>
#include <QString>

#include <functional>

// The kind of FTP operation a notification is about. The values are fixed
// (0..15): handlers key their messages on them.
enum class TCmdType : int {
    ChangeDir = 0,
    MakeDir = 1,
    Delete = 2,
    RemoveDir = 3,
    List = 4,
    Rename = 5,
    UploadRestore = 6,
    DownloadRestore = 7,
    Download = 8,
    Upload = 9,
    UploadAppend = 10,
    Reinitialize = 11,
    Allocate = 12,
    NList = 13,
    DoCommand = 14,
    CurrentDir = 15,
};

// How to log in through a proxy (only used when a proxy is set).
enum class TFirewallType : int {
    FTUser = 0, // USER user@host
    FtOpen = 1, // OPEN host
    FtSite = 2, // SITE host
};

// The server's answer to SIZE: the stored file's size, or why there is none.
struct TSizeReply
{
    enum class Kind {
        Size,           // 213 with a size
        NotFound,       // 550: no such file (or none the server will size)
        NotImplemented, // 500, 501, 502 or 504: the server declines SIZE as a command
        Failed,         // any other reply, or a 213 without a number
    };
    Kind kind = Kind::Failed;
    qint64 size = -1;  // with Kind::Size
    QString replyLine; // the reply's first line, line end included
    // Failed when the dialogue did (a socket error, a time-out): then no
    // answer came and the rest means nothing.
    FtpResult outcome;
};

// The server's answer to HASH (the FTP extension for content hashes): the
// SHA-256 of a stored file as the server computed it, or why there is none.
struct THashReply
{
    enum class Kind {
        Hash,      // 213 with a SHA-256 of the file from its first byte
        Refused,   // 4xx or 5xx: no hash of this file (or no HASH at all)
        Malformed, // a 213 that is no SHA-256 of the file: problem says why
        Failed,    // any other reply
    };
    Kind kind = Kind::Failed;
    QByteArray sha256;    // 32 bytes with Kind::Hash
    qint64 lastByte = -1; // with Kind::Hash: the hashed range is 0..lastByte
    QString replyLine;    // the reply's first line, line end included
    QString problem;
    FtpResult outcome;    // as in TSizeReply
};

using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TFailureEvent = std::function<void(bool &Handled, TCmdType Trans_Type)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;
using TListItemEvent = std::function<void(const QString &Listing)>;

#pragma once

#include "FtpResult.h"

#include <QByteArray>
#include <QString>

// What came of fetching one stored file (RETR) or removing one (DELE, or a
// folder by RMD). Kept apart from the engine's other types: the caller
// decides what a refusal means, so nothing here is a notification.
struct TDownloadReply
{
    enum class Kind {
        Fetched, // every byte the listing promised, then the server's 226
        Refused, // the server would not send it (no data route, RETR refused)
        Failed,  // it came short, long, broke off, or the server's verdict was no success
    };
    Kind kind = Kind::Failed;
    qint64 bytes = 0;  // received and written
    QByteArray sha256; // raw, of those bytes; with Kind::Fetched
    QString replyLine; // the refusing or closing reply, line end removed
    QString problem;   // why it failed, one line for the operator
    // Failed when the dialogue did (a socket error, a time-out, a stop):
    // then the rest means nothing.
    FtpResult outcome;
};

struct TDeleteReply
{
    enum class Kind {
        Deleted,        // 250
        NotFound,       // 550: nothing of that name, or nothing the server will remove (a folder not empty)
        NotImplemented, // 500, 501, 502 or 504: the server declines the command
        Refused,        // any other reply
    };
    Kind kind = Kind::Refused;
    QString replyLine; // line end removed
    FtpResult outcome; // as in TDownloadReply
};

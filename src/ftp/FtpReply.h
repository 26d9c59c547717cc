#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The rules for reading what an FTP server sends on the control connection,
// kept apart from the socket so that every reader uses the same ones.
namespace FtpReply {

// The number at the start of a reply line (at most its first 10 characters);
// 0 when it does not start with a digit. Throws EConvertError when the number
// does not fit a reply code.
[[nodiscard]] std::int16_t ParseReplyCode(const QByteArray &line);

// The classes of reply codes, each decided here once and named for the step
// that asks. Bounds are inclusive where two numbers are given.

// The greeting: anything above 400 (a 421 "too many users", or a code no
// server sends) ends the log-in.
[[nodiscard]] constexpr bool RefusesGreeting(int code)
{
    return code > 400;
}
// USER and PASS, of the server or of a firewall: 401..599.
[[nodiscard]] constexpr bool RefusesLogIn(int code)
{
    return code > 400 && code < 600;
}
// USER accepted the name and wants PASS.
[[nodiscard]] constexpr bool AsksForPassword(int code)
{
    return code == 331;
}
// A raw command (DoCommand): 400..599. Anything else, 600 and more
// included, counts as done.
[[nodiscard]] constexpr bool FailsCommand(int code)
{
    return code >= 400 && code <= 599;
}
// The server has no such command: 500..502, told before the failure.
[[nodiscard]] constexpr bool Unsupported(int code)
{
    return code >= 500 && code <= 502;
}
// PASV: 500 and more.
[[nodiscard]] constexpr bool RefusesPassive(int code)
{
    return code >= 500;
}
// PORT, STOR, RETR and MLSD: 301..599 (a 1xx or 2xx goes on with the transfer).
[[nodiscard]] constexpr bool RefusesTransfer(int code)
{
    return code > 300 && code < 600;
}
// The verdict after a transfer, and a refused HASH: 400..599.
[[nodiscard]] constexpr bool ReportsFailure(int code)
{
    return code >= 400 && code <= 599;
}
// QUIT: 301..599, raised after the close.
[[nodiscard]] constexpr bool RefusesQuit(int code)
{
    return code > 300 && code < 600;
}
// A server that declines an extension command itself (SIZE, MLSD, HASH):
// 500, 501, 502 or 504. Not 503 (a bad sequence is no missing command).
[[nodiscard]] constexpr bool DeclinesCommand(int code)
{
    return code == 500 || code == 501 || code == 502 || code == 504;
}
// SIZE and HASH answered with the file's status.
[[nodiscard]] constexpr bool GivesFileStatus(int code)
{
    return code == 213;
}
// SIZE and DELE: no such file (or, for DELE, none the server will remove).
[[nodiscard]] constexpr bool FileNotFound(int code)
{
    return code == 550;
}
// DELE removed the file.
[[nodiscard]] constexpr bool CompletesFileAction(int code)
{
    return code == 250;
}
// OPTS took the option; NOOP's own reply, which ends the replies an earlier
// command still owed.
[[nodiscard]] constexpr bool CommandOkay(int code)
{
    return code == 200;
}
[[nodiscard]] constexpr bool AnswersNoop(int code)
{
    return CommandOkay(code);
}
// FEAT's list of features.
[[nodiscard]] constexpr bool ListsFeatures(int code)
{
    return code == 211;
}

// The code of a line as ParseReplyCode reads it, or -1 where that would
// throw: for readers that must not raise on what a server sends.
[[nodiscard]] int CodeOf(const QByteArray &line) noexcept;

// The data port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" reply:
// the sixth field up to its ")" plus 256 times the fifth. Throws
// EConvertError when a field is missing or is not a number from 0 to 255.
[[nodiscard]] int PassivePort(const QString &reply);

// Gathers the lines of one reply. A first line of three digits and "-"
// opens a multi-line reply, which ends only at a line that starts with the
// same three digits and a space; every line in between is text, whatever
// it looks like ("425 ..." included). Any other first line is the whole
// reply.
class Assembler
{
public:
    // Bounds of one whole reply, so that a server cannot keep the client
    // reading for ever: a banner or a help text is a few dozen lines.
    static constexpr int MaxLines = 1000;
    static constexpr qsizetype MaxBytes = 256 * 1024;

    explicit Assembler(const QByteArray &firstLine);

    [[nodiscard]] bool Complete() const { return complete; }
    // Takes the next line of the reply, line end included. Throws
    // FTPException when the reply grows past MaxLines lines or MaxBytes bytes.
    void Add(const QByteArray &line);

private:
    void count(const QByteArray &line);

    QByteArray lastLineStart; // "xyz " of a multi-line reply
    bool complete = true;
    int lines = 0;
    qsizetype bytes = 0;
};

} // namespace FtpReply

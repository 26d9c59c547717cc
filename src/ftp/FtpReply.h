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

// NOOP's own reply: what ends the replies an earlier command still owed.
[[nodiscard]] constexpr bool AnswersNoop(int code)
{
    return code == 200;
}

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

#pragma once

#include <QString>

// How one step of the FTP dialogue ended: ok, or a failure of a named kind
// with the text the operator reads (for a refusal, the server's reply line,
// line end included). The engine's operations return it; nothing is raised
// past the engine.
class [[nodiscard]] FtpResult
{
public:
    enum class Failure {
        None,
        Refused,      // the server's reply refused the step: text is its line
        NotConnected, // no control connection (and none was made on request)
        TimedOut,     // a reply or a connection did not come within TimeOut
        Connection,   // the socket failed
        Closed,       // the server closed the connection where a reply was due
        Aborted,      // Cancel or Abort ended the wait
        Malformed,    // a reply that can't be read (a passive reply without a port)
        Local,        // on this side: a file that can't be read, a command refused unsent
    };

    FtpResult() = default;
    [[nodiscard]] static FtpResult Ok() { return {}; }
    [[nodiscard]] static FtpResult Failed(Failure failure, QString text)
    {
        FtpResult result;
        result.failure = failure == Failure::None ? Failure::Local : failure;
        result.text = std::move(text);
        return result;
    }

    [[nodiscard]] bool Succeeded() const { return failure == Failure::None; }
    [[nodiscard]] Failure Kind() const { return failure; }
    // The server's line for a refusal, else what went wrong; empty when ok.
    [[nodiscard]] const QString &Text() const { return text; }

private:
    Failure failure = Failure::None;
    QString text;
};

#pragma once

#include "ftp/FtpResult.h"
#include "platform/Exception.h"

// A failure of the FTP dialogue that ends the run where it happened, as the
// link raises it: the message is the FTP engine's text unchanged (the
// server's reply line for a refusal, the socket's error otherwise), so the
// operator reads what the error box has always said.
class ELinkError : public Exception
{
public:
    using Exception::Exception;

    static void RaiseOnFailure(const FtpResult &result)
    {
        if (!result.Succeeded())
            throw ELinkError(result.Text());
    }
};

#pragma once

#include "platform/Exception.h"

// The FTP server refused something. The message is the server's reply line
// that refused it, line end included, or a statement of why the client
// refused to go on (a command it would not send, a reply it could not trust).
class FTPException : public Exception
{
public:
    using Exception::Exception;
};

// The client refused to go on before the server had a say: a command or
// file name it would not send, a second transfer on a busy connection, a
// local file it could not read.
class ELocalRefusal : public Exception
{
public:
    using Exception::Exception;
};

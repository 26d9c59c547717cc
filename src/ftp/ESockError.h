#pragma once

#include "platform/Exception.h"

// A failure of the socket component: a socket call, a look-up, a connect, an
// accept. The message is what the operator reads ("10061:Connection refused").
class ESockError : public Exception
{
public:
    using Exception::Exception;
};

// An operation that ended because it was cancelled (Cancel, Abort or the
// time-out) rather than because the network failed.
class EAbortError : public ESockError
{
public:
    using ESockError::ESockError;
};

// A wait that ran out of its time-out: a reply, a connection, a look-up,
// a send.
class ETimeOutError : public ESockError
{
public:
    using ESockError::ESockError;
};

// The server closed the connection where a reply was due.
class EPeerClosed : public ESockError
{
public:
    using ESockError::ESockError;
};

// An operation that needs the connection found none ("Not Connected").
class ENotConnected : public Exception
{
public:
    using Exception::Exception;
};

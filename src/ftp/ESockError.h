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

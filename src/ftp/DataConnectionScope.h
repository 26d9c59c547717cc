#pragma once

#include "TNMFTP.h"

#include <QPointer>

// Holds the transfer lock for one data transfer (an upload or a listing) and
// removes the data connection however the transfer ends.
class DataConnectionScope
{
public:
    explicit DataConnectionScope(TNMFTP *ftp)
        : ftp(ftp)
    {
        ftp->TransferLock.lock();
    }
    ~DataConnectionScope()
    {
        if (!ftp)
            return; // destroyed by a handler while the transfer waited
        delete ftp->DataSocket;
        ftp->DataSocket = nullptr;
        ftp->TransferLock.unlock();
    }
    DataConnectionScope(const DataConnectionScope &) = delete;
    DataConnectionScope &operator=(const DataConnectionScope &) = delete;

private:
    QPointer<TNMFTP> ftp;
};

// The link's FTP commands that ask about the drive's contents, and the
// transfer type: the only way upgrade/ reaches the FTP client for them.
#include "instrument/Uvx900.h"

#include "ftp/TNMFTP.h"

void TfrmVX900::SetTransferType(TTransferType type)
{
    if (transferType == type)
        return;
    NMFTP->SetTransferType(type);
    transferType = type;
}

TSizeReply TfrmVX900::FileSize(const QString &remotePath)
{
    return NMFTP->FileSize(remotePath);
}

bool TfrmVX900::SelectHashSha256()
{
    return NMFTP->SelectHashSha256();
}

THashReply TfrmVX900::FileHash(const QString &remotePath)
{
    return NMFTP->FileHash(remotePath);
}

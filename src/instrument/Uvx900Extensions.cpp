// The instrument link's calls of the FTP server's extensions, of the
// transfer type and of RETR and DELE, the only way upgrade/ reaches the FTP
// client for them: what the server answers is the value, and a dialogue
// that failed ends the run as an error with the FTP client's text.
#include "instrument/Uvx900.h"

#include "ftp/TNMFTP.h"
#include "instrument/LinkError.h"

void TfrmVX900::SetTransferType(TTransferType type)
{
    // The drive lookup selects the image type before each SIZE; one TYPE
    // per change is enough.
    if (transferType == type)
        return;
    ELinkError::RaiseOnFailure(NMFTP->SetTransferType(type));
    transferType = type;
}

FtpListing::Features TfrmVX900::ServerFeatures()
{
    FtpListing::Features features = NMFTP->Features();
    ELinkError::RaiseOnFailure(features.outcome);
    return features;
}

TSizeReply TfrmVX900::FileSize(const QString &remotePath)
{
    TSizeReply answer = NMFTP->FileSize(remotePath);
    ELinkError::RaiseOnFailure(answer.outcome);
    return answer;
}

bool TfrmVX900::SelectHashSha256()
{
    const FtpResult selected = NMFTP->SelectHashSha256();
    if (selected.Kind() != FtpResult::Failure::Refused)
        ELinkError::RaiseOnFailure(selected);
    return selected.Succeeded();
}

THashReply TfrmVX900::FileHash(const QString &remotePath)
{
    THashReply answer = NMFTP->FileHash(remotePath);
    ELinkError::RaiseOnFailure(answer.outcome);
    return answer;
}

TDownloadReply TfrmVX900::DownloadFile(const QString &remotePath, qint64 expectedSize, QIODevice &into)
{
    TDownloadReply answer = NMFTP->Download(remotePath, expectedSize, into);
    ELinkError::RaiseOnFailure(answer.outcome);
    return answer;
}

TDeleteReply TfrmVX900::DeleteFile(const QString &remotePath)
{
    TDeleteReply answer = NMFTP->DeleteFile(remotePath);
    ELinkError::RaiseOnFailure(answer.outcome);
    return answer;
}

TDeleteReply TfrmVX900::RemoveFolder(const QString &remotePath)
{
    TDeleteReply answer = NMFTP->RemoveFolder(remotePath);
    ELinkError::RaiseOnFailure(answer.outcome);
    return answer;
}

bool TfrmVX900::Declined(FtpExtension command) const
{
    return NMFTP->Declined(command).has_value();
}

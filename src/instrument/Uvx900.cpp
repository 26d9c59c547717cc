#include "instrument/Uvx900.h"

#include "ftp/ESockError.h"
#include "instrument/LinkError.h"
#include "ftp/FtpTypes.h"
#include "ftp/TNMFTP.h"
#include "instrument/CatalogueReply.h"
#include "instrument/CommandReply.h"
#include "instrument/InstrumentName.h"
#include "instrument/TClientSocket.h"
#include "platform/MessageBox.h"
#include "platform/Sockets.h"

#include <array>

namespace {

const QString LinkCaption = QStringLiteral("VX900 Upgrade");
const QString FtpCaption = QStringLiteral("VX900 Upgrade ftp");
constexpr int ErrorBox = platform::MB_OK | platform::MB_ICONERROR;

// The operation kinds in TCmdType order, as the operator reads them.
constexpr std::array<const char *, 16> KindNames = {
    "ChangeDir", "MakeDir", "Delete",       "RemoveDir",    "List",     "Rename", "UploadRestore", "DownloadRestore",
    "Download",  "Upload",  "UploadAppend", "Reinitialize", "Allocate", "NList",  "DoCommand",     "CurrentDir",
};

// The kind's name, or null for a value outside the sixteen kinds.
const char *kindName(TCmdType kind)
{
    const int value = int(kind);
    return value >= 0 && value < int(KindNames.size()) ? KindNames[size_t(value)] : nullptr;
}

QByteArray quoted(const QString &text)
{
    return '"' + text.toUtf8() + '"';
}

} // namespace

TfrmVX900::TfrmVX900(QObject *owner, InstrumentPorts ports)
    : QObject(owner)
    , NMFTP(new TNMFTP(this))
    , ClientSocket(std::make_unique<TClientSocket>())
{
    NMFTP->Port = ports.ftp;
    NMFTP->TimeOut = 60000;
    NMFTP->ReportLevel = 0;
    NMFTP->UserID = QStringLiteral("kirosu");
    NMFTP->Password = QStringLiteral("tovel4417");
    NMFTP->Passive = false;
    NMFTP->Vendor = 2411;
    NMFTP->ParseList = false;
    NMFTP->ProxyPort = 0;
    NMFTP->FirewallType = TFirewallType::FTUser;
    NMFTP->FWAuthenticate = false;
    NMFTP->OnSuccess = [this](TCmdType kind) { NMFTPSuccess(kind); };
    NMFTP->OnFailure = [this](bool &handled, TCmdType kind) { NMFTPFailure(handled, kind); };
    NMFTP->OnUnSupportedFunction = [this](TCmdType kind) { NMFTPUnSupportedFunction(kind); };
    NMFTP->OnAuthenticationFailed = [this](bool &handled) { NMFTPAuthenticationFailed(handled); };

    ClientSocket->Port = ports.command;
    ClientSocket->TimeOut = NMFTP->TimeOut;
}

TfrmVX900::~TfrmVX900()
{
    ClientSocket->Close();
    if (NMFTP->Connected) {
        // A destructor cannot pass the refused QUIT on; the connection is
        // closed by then all the same.
        (void)NMFTP->Disconnect();
    }
}

bool TfrmVX900::Connect(const QString &address)
{
    transfersAborted = false;
    transferType.reset();
    connectFailure.clear();
    IdentityReply.clear();
    ClientSocket->Close();
    ClientSocket->Address = address;
    try {
        ClientSocket->Open();
    } catch (const ESockError &) {
        return failConnect(QStringLiteral("Can't connect VX900.\n\nPlease check IP address."));
    }
    if (NMFTP->Connected)
        ELinkError::RaiseOnFailure(NMFTP->Disconnect());
    // The form the command channel reached: the FTP client must reach that
    // instrument, whatever zeros the operator typed.
    NMFTP->Host = platform::sock::CanonicalAddress(address).value_or(address);
    ELinkError::RaiseOnFailure(NMFTP->Connect());

    SendCommand("*IDN?");
    QByteArray identity;
    ReadResponse(identity);
    IdentityReply = identity.trimmed();
    if (identity.contains("ALVO/BRECKMOOR,VX900"))
        return true;
    return failConnect(QStringLiteral("This instrument is not a VX900.\n\nCan not continue."));
}

bool TfrmVX900::failConnect(const QString &text)
{
    connectFailure = text;
    showBox(text, LinkCaption, ErrorBox);
    return false;
}

int TfrmVX900::showBox(const QString &text, const QString &caption, int flags)
{
    // A copy: the handler may replace itself while the box is up.
    if (const platform::MessageBoxResponder handler = OnMessageBox)
        return handler(text, caption, flags);
    return platform::MessageBox(text, caption, flags);
}

void TfrmVX900::Disconnect()
{
    ClientSocket->Close();
    if (NMFTP->Connected)
        ELinkError::RaiseOnFailure(NMFTP->Disconnect());
}

void TfrmVX900::SendCommand(const QByteArray &command)
{
    QByteArray line = command;
    if (!line.endsWith('\n'))
        line += '\n';
    ClientSocket->Write(line);
}

void TfrmVX900::ReadResponse(QByteArray &reply)
{
    // A reply cut short by the instrument closing its side is what came.
    static_cast<void>(ClientSocket->ReadLine(reply, MaxReplyLength, ClientSocket->ReadDeadline()));
}

bool TfrmVX900::NoInstrumentError()
{
    SendCommand(":SYSTEM:ERR?");
    QByteArray reply;
    ReadResponse(reply);
    return CommandReply::NoError(reply);
}

bool TfrmVX900::ChangeDirectory(const QString &path)
{
    if (!instrument::FitsCommandLine(path))
        return false;
    SendCommand(":MMEM:CDIR " + quoted(path) + '\n');
    return NoInstrumentError();
}

bool TfrmVX900::ChangeSubdirectory(const QString &parent, const QString &name)
{
    return ChangeDirectory(parent + u'/' + name);
}

bool TfrmVX900::HasDirectory(const QString &parent, const QString &name)
{
    if (!instrument::FitsCommandLine(parent) || !instrument::FitsCommandLine(name))
        return false;
    SendCommand("MMEM:CAT? " + quoted(parent));
    QByteArray reply;
    ReadResponse(reply);
    return CatalogueReply::ListsEntry(reply, name.toUtf8());
}

bool TfrmVX900::MakeDirectory(const QString &parent, const QString &name)
{
    if (!instrument::FitsCommandLine(name) || !ChangeDirectory(parent))
        return false;
    SendCommand("MMEM:MDIR " + quoted(name));
    return NoInstrumentError();
}

qint64 TfrmVX900::FreeSpace()
{
    SendCommand("MMEM:CAT? " + quoted(QStringLiteral("/F0:/")));
    QByteArray reply;
    ReadResponse(reply);
    return CatalogueReply::FreeSpace(reply);
}

bool TfrmVX900::UploadFile(const QString &localPath, const QString &remotePath,
                           std::function<void(qint64 bytesSent)> progress)
{
    ELinkError::RaiseOnFailure(NMFTP->Upload(localPath, remotePath, std::move(progress)));
    return LastTransferOk;
}

bool TfrmVX900::UploadFile(QFile &file, const QString &remotePath, std::function<void(qint64 bytesSent)> progress)
{
    ELinkError::RaiseOnFailure(NMFTP->Upload(file, remotePath, std::move(progress)));
    return LastTransferOk;
}

QString UploadCheck::message() const
{
    const QString path = instrument::PrintablePath(remotePath);
    switch (verdict) {
    case Verdict::Verified:
        return QStringLiteral("%1: %2 bytes, as sent").arg(path).arg(remoteSize);
    case Verdict::NotVerifiable:
        return QStringLiteral("%1: not verified (%2 bytes sent)").arg(path).arg(localSize);
    case Verdict::Mismatch:
        return QStringLiteral("Upload failed: the instrument holds %1 bytes of %2, %3 bytes were sent")
            .arg(remoteSize)
            .arg(path)
            .arg(localSize);
    case Verdict::Missing:
        return QStringLiteral("Upload failed: the instrument has no file %1 after the transfer (%2 bytes were sent)")
            .arg(path)
            .arg(localSize);
    case Verdict::Failed:
        break;
    }
    return QStringLiteral("Upload failed: %1 could not be checked on the instrument (%2 bytes were sent): %3")
        .arg(path)
        .arg(localSize)
        .arg(reply);
}

void TfrmVX900::NMFTPSuccess(TCmdType)
{
    LastTransferOk = true;
}

void TfrmVX900::AbortTransfers()
{
    transfersAborted = true;
    NMFTP->Abort();
    NMFTP->Cancel();
}

void TfrmVX900::NMFTPFailure([[maybe_unused]] bool &Handled, TCmdType Trans_Type)
{
    const char *name = transfersAborted ? nullptr : kindName(Trans_Type);
    if (name)
        showBox(QString::fromLatin1(name) + QStringLiteral(" failed"), FtpCaption, ErrorBox);
    LastTransferOk = false;
    // Handled stays false: the FTP client goes on to raise its error, which
    // ends the run where the failure happened.
}

void TfrmVX900::NMFTPUnSupportedFunction(TCmdType Trans_Type)
{
    if (const char *name = kindName(Trans_Type))
        showBox(QString::fromLatin1(name) + QStringLiteral(" not supported by this server"), FtpCaption,
                             ErrorBox);
}

void TfrmVX900::NMFTPAuthenticationFailed(bool &)
{
    showBox(QStringLiteral("Authentication Failed"), FtpCaption, ErrorBox);
}

const FtpListing::Entry *FolderListing::find(const QString &name) const
{
    for (const FtpListing::Entry &entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

FolderListing TfrmVX900::ListFolder(const QString &folder)
{
    // Named in FEAT but declined as a command: the catalogue from then on.
    if (!NMFTP->Declined(FtpExtension::Mlsd) && ServerFeatures().mlsdSize) {
        FolderListing listing = FtpFolderListing(folder);
        if (listing.status != FolderListing::Status::Unavailable)
            return listing;
    }
    return CatalogueListing(folder);
}

FolderListing TfrmVX900::FtpFolderListing(const QString &folder)
{
    FolderListing result;
    result.source = FolderListing::Source::FtpListing;
    const QString path = instrument::PrintablePath(folder);
    if (!instrument::FitsCommandLine(folder)) {
        result.problem = QStringLiteral("%1 can't be listed by name").arg(path);
        return result;
    }
    FtpListing::Listing listing = NMFTP->ListFolder(folder);
    ELinkError::RaiseOnFailure(listing.outcome);
    switch (listing.kind) {
    case FtpListing::Listing::Kind::Listed:
        result.status = FolderListing::Status::Listed;
        result.entries = std::move(listing.entries);
        return result;
    case FtpListing::Listing::Kind::Malformed:
        result.status = FolderListing::Status::Failed;
        result.problem = QStringLiteral("the FTP listing of %1 can't be trusted: %2").arg(path, listing.problem);
        return result;
    case FtpListing::Listing::Kind::Refused:
        break;
    }
    // No MLSD after all, or a folder's content unknown when it must be
    // known: the check could not be made.
    const bool declined = NMFTP->Declined(FtpExtension::Mlsd).has_value();
    result.status = declined ? FolderListing::Status::Unavailable : FolderListing::Status::Failed;
    result.problem = QStringLiteral("the FTP server did not list %1 (it answered \"%2\")")
                         .arg(path, instrument::PrintablePath(listing.replyLine));
    return result;
}

FolderListing TfrmVX900::CatalogueListing(const QString &folder)
{
    FolderListing result;
    const QString path = instrument::PrintablePath(folder);
    if (!instrument::FitsCommandLine(folder)) {
        result.problem = QStringLiteral("%1 can't be listed by name").arg(path);
        return result;
    }
    SendCommand("MMEM:CAT? " + quoted(folder));
    QByteArray reply;
    ReadResponse(reply);
    const std::optional<QList<CatalogueReply::Entry>> entries = CatalogueReply::Entries(reply);
    // A folder the instrument can't list (one not made yet) still answers,
    // and leaves an error in its queue: read it here, or the next command's
    // check would take it for its own.
    if (!NoInstrumentError() || !entries) {
        result.problem = QStringLiteral("the instrument's catalogue of %1 could not be read").arg(path);
        return result;
    }
    result.status = FolderListing::Status::Listed;
    for (const CatalogueReply::Entry &entry : *entries)
        result.entries.append({QString::fromUtf8(entry.name), entry.type.toUpper() == "DIR", entry.size});
    return result;
}

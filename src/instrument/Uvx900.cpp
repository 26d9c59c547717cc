#include "instrument/Uvx900.h"

#include "ftp/ESockError.h"
#include "ftp/TNMFTP.h"
#include "instrument/CatalogueReply.h"
#include "instrument/CommandReply.h"
#include "instrument/TClientSocket.h"
#include "platform/MessageBox.h"

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

// The instrument always listens on 5000 and 21; benches and the simulator
// run on other ports and name them in the environment.
quint16 benchPort(const char *variable, quint16 instrumentPort)
{
    bool ok = false;
    const int port = qEnvironmentVariable(variable).toInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : instrumentPort;
}

// A double quote ends the quoted argument early and a control character
// (CR, LF, NUL ...) ends or corrupts the command line: either would let a
// name smuggle its own command to the instrument.
bool fitsCommandLine(const QString &text)
{
    for (const QChar c : text) {
        if (c == u'"' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QByteArray quoted(const QString &text)
{
    return '"' + text.toUtf8() + '"';
}

} // namespace

TfrmVX900::TfrmVX900(QObject *owner)
    : QObject(owner)
    , NMFTP(new TNMFTP(this))
    , ClientSocket(std::make_unique<TClientSocket>())
{
    NMFTP->Port = benchPort("VX900_FTP_PORT", 21);
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

    ClientSocket->Port = benchPort("VX900_CMD_PORT", 5000);
    ClientSocket->TimeOut = NMFTP->TimeOut;
}

TfrmVX900::~TfrmVX900()
{
    ClientSocket->Close();
    if (NMFTP->Connected) {
        // A destructor cannot pass the refused QUIT on; the connection is
        // closed by then all the same.
        try {
            NMFTP->Disconnect();
        } catch (const Exception &) {
        }
    }
}

bool TfrmVX900::Connect(const QString &address)
{
    transfersAborted = false;
    ClientSocket->Close();
    ClientSocket->Address = address;
    try {
        ClientSocket->Open();
    } catch (const ESockError &) {
        platform::MessageBox(QStringLiteral("Can't connect VX900.\n\nPlease check IP address."), LinkCaption, ErrorBox);
        return false;
    }
    if (NMFTP->Connected)
        NMFTP->Disconnect();
    NMFTP->Host = address;
    NMFTP->Connect();

    SendCommand("*IDN?");
    QByteArray identity;
    ReadResponse(identity);
    if (identity.contains("ALVO/BRECKMOOR,VX900"))
        return true;
    platform::MessageBox(QStringLiteral("This instrument is not a VX900.\n\nCan not continue."), LinkCaption, ErrorBox);
    return false;
}

void TfrmVX900::Disconnect()
{
    ClientSocket->Close();
    if (NMFTP->Connected)
        NMFTP->Disconnect();
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
    reply.clear();
    const TClientSocket::Deadline deadline = ClientSocket->ReadDeadline();
    char byte = 0;
    try {
        while (ClientSocket->ReadByte(byte, deadline)) {
            if (CommandReply::TakeByte(reply, byte, MaxReplyLength))
                break;
        }
    } catch (const ESockError &) {
        // The rest of an over-long line would be read as the next reply.
        ClientSocket->Close();
        throw;
    }
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
    if (!fitsCommandLine(path))
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
    if (!fitsCommandLine(parent) || !fitsCommandLine(name))
        return false;
    SendCommand("MMEM:CAT? " + quoted(parent));
    QByteArray reply;
    ReadResponse(reply);
    return CatalogueReply::ListsName(reply, name.toUtf8());
}

bool TfrmVX900::MakeDirectory(const QString &parent, const QString &name)
{
    if (!fitsCommandLine(name) || !ChangeDirectory(parent))
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

bool TfrmVX900::UploadFile(const QString &localPath, const QString &remotePath)
{
    NMFTP->Upload(localPath, remotePath);
    return LastTransferOk;
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
        platform::MessageBox(QString::fromLatin1(name) + QStringLiteral(" failed"), FtpCaption, ErrorBox);
    LastTransferOk = false;
    // Handled stays false: the FTP client goes on to raise its error, which
    // ends the run where the failure happened.
}

void TfrmVX900::NMFTPUnSupportedFunction(TCmdType Trans_Type)
{
    if (const char *name = kindName(Trans_Type))
        platform::MessageBox(QString::fromLatin1(name) + QStringLiteral(" not supported by this server"), FtpCaption,
                             ErrorBox);
}

void TfrmVX900::NMFTPAuthenticationFailed(bool &)
{
    platform::MessageBox(QStringLiteral("Authentication Failed"), FtpCaption, ErrorBox);
}

#pragma once

#include "ftp/FtpDownload.h"
#include "ftp/FtpListing.h"
#include "ftp/FtpTypes.h"
#include "instrument/CommandReply.h"
#include "instrument/InstrumentPorts.h"
#include "platform/MessageBox.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QFile;
class QIODevice;

class TClientSocket;
class TNMFTP;
enum class TTransferType : int;
enum class FtpExtension : int;

// What the instrument holds after an upload, compared with what was sent.
struct UploadCheck
{
    enum class Verdict {
        Verified,      // the stored size is the size sent
        NotVerifiable, // nothing on the instrument could tell: nothing was compared
        Mismatch,      // a different size is stored
        Missing,       // the server has no such file
        Failed,        // the check could not be made (a 4xx, a listing not to be trusted)
    };
    Verdict verdict = Verdict::Failed;
    QString remotePath;
    qint64 localSize = 0;
    qint64 remoteSize = -1; // with Verified and Mismatch
    QString reply;          // with Failed: why the check could not be made

    // The upload failed after all: the run must not go on as if it arrived.
    [[nodiscard]] bool failed() const
    {
        return verdict != Verdict::Verified && verdict != Verdict::NotVerifiable;
    }
    // One line for the operator: the path and both sizes, or what went wrong.
    [[nodiscard]] QString message() const;
};

// What the instrument holds in one folder: names, sizes, which are folders.
struct FolderListing
{
    enum class Source {
        FtpListing, // the FTP server's MLSD
        Catalogue,  // the instrument's own "MMEM:CAT?"
    };
    enum class Status {
        Listed,      // entries holds the whole folder
        Unavailable, // neither way can list it: nothing is known
        Failed,      // the listing was refused or can't be trusted: see problem
    };
    Status status = Status::Unavailable;
    Source source = Source::Catalogue;
    QList<FtpListing::Entry> entries;
    QString problem; // one line for the operator, with Failed and Unavailable

    // The entry of that name, or null.
    [[nodiscard]] const FtpListing::Entry *find(const QString &name) const;
};

// The instrument link: owns the command channel and the FTP client of one
// VX900 and turns their outcomes into the operator's messages. Never shown.
//
// Instrument paths and names are passed as QString and travel as UTF-8
// bytes (local file names on this platform are UTF-8 too). Replies are kept
// as the raw bytes the instrument sent.
class TfrmVX900 : public QObject
{
    Q_OBJECT

public:
    // The command channel goes to `ports.command`, FTP to `ports.ftp`.
    explicit TfrmVX900(QObject *owner, InstrumentPorts ports = {});
    ~TfrmVX900() override; // closes the command channel and the FTP connection

    TNMFTP *NMFTP = nullptr; // owned
    std::unique_ptr<TClientSocket> ClientSocket;
    bool LastTransferOk = true;
    // Longest reply line ReadResponse takes, line feed included; a longer
    // one closes the command channel and raises ESockError.
    qsizetype MaxReplyLength = CommandReply::MaxLength;
    // The instrument's reply to "*IDN?" at the latest Connect, line end
    // removed; empty before one got that far.
    QByteArray IdentityReply;
    // Where the link's boxes go; unassigned, to platform::MessageBox. The
    // upgrade run takes them while it lives, so that its view answers them.
    platform::MessageBoxResponder OnMessageBox;

    // Opens the command channel and the FTP connection and checks "*IDN?".
    // A failed FTP log-in raises ELinkError with the FTP client's text.
    [[nodiscard]] bool Connect(const QString &address);
    // The text of the box the last Connect showed when it returned false.
    [[nodiscard]] const QString &ConnectFailure() const { return connectFailure; }
    // A refused QUIT raises ELinkError, after both connections are closed.
    void Disconnect();

    void SendCommand(const QByteArray &command);
    void ReadResponse(QByteArray &reply);

    // Paths and names holding a double quote or a control character would
    // break the command line's quoting; these operations refuse them (false,
    // nothing written).
    [[nodiscard]] bool ChangeDirectory(const QString &path);
    [[nodiscard]] bool ChangeSubdirectory(const QString &parent, const QString &name);
    // Whether `parent`'s catalogue names `name`, in either catalogue form
    // (an instrument answering in the SCPI form would otherwise have its
    // NAME files written again on every run).
    [[nodiscard]] bool HasDirectory(const QString &parent, const QString &name);
    [[nodiscard]] bool MakeDirectory(const QString &parent, const QString &name);
    // Free bytes of the drive; throws EConvertError on a malformed reply.
    [[nodiscard]] qint64 FreeSpace();

    // Uploads one local file; true when it arrived. A failed transfer has
    // shown its box and throws.
    // `progress`, when given, is told the bytes sent after every piece.
    [[nodiscard]] bool UploadFile(const QString &localPath, const QString &remotePath,
                                  std::function<void(qint64 bytesSent)> progress = {});
    // The same for a file the caller holds open: exactly its bytes are sent.
    [[nodiscard]] bool UploadFile(QFile &file, const QString &remotePath,
                                  std::function<void(qint64 bytesSent)> progress = {});

    // Selects the FTP transfer type; a failure has shown its box
    // ("DoCommand failed") and raises ELinkError. The type is sent only when
    // it differs from the one this connection last selected.
    void SetTransferType(TTransferType transferType);

    // The FTP server's extensions, behind the drive lookup. What the server
    // answers is the value; a dialogue that failed (socket error, time-out)
    // raises ELinkError.
    // What the FTP server offers (FEAT), asked once per connection.
    [[nodiscard]] FtpListing::Features ServerFeatures();
    // SIZE of a stored file (select image type first).
    [[nodiscard]] TSizeReply FileSize(const QString &remotePath);
    // Whether the server took SHA-256 for HASH.
    [[nodiscard]] bool SelectHashSha256();
    [[nodiscard]] THashReply FileHash(const QString &remotePath);
    // A stored file fetched (RETR) into `into`, checked against the size a
    // listing gave; a short or refused download is the value.
    [[nodiscard]] TDownloadReply DownloadFile(const QString &remotePath, qint64 expectedSize, QIODevice &into);
    // A stored file removed (DELE); the server's answer is the value.
    [[nodiscard]] TDeleteReply DeleteFile(const QString &remotePath);
    // An empty folder removed (RMD); the server's answer is the value.
    [[nodiscard]] TDeleteReply RemoveFolder(const QString &remotePath);
    // Whether the FTP server declined the command on this connection: the
    // FTP client remembers it and asks no more.
    [[nodiscard]] bool Declined(FtpExtension command) const;
    // One folder's entries: by the FTP server's listing when it offers MLSD
    // with sizes, else (or when it declines MLSD) by the instrument's
    // catalogue. Unsafe paths are Unavailable, nothing sent.
    [[nodiscard]] FolderListing ListFolder(const QString &folder);
    // The same by one way only.
    [[nodiscard]] FolderListing FtpFolderListing(const QString &folder);
    [[nodiscard]] FolderListing CatalogueListing(const QString &folder);


    // Ends the FTP wait under way (a running transfer first) because the
    // operator asked to stop. The failure that follows is the stop itself,
    // so it is recorded but shows no box; the next Connect clears this.
    void AbortTransfers();

    // The FTP client's notifications: record the outcome, tell the operator.
    void NMFTPSuccess(TCmdType Trans_Type);
    void NMFTPFailure(bool &Handled, TCmdType Trans_Type);
    void NMFTPUnSupportedFunction(TCmdType Trans_Type);
    void NMFTPAuthenticationFailed(bool &Handled);

private:
    int showBox(const QString &text, const QString &caption, int flags);
    // Shows the error box of a failed Connect and keeps its text.
    bool failConnect(const QString &text);
    QString connectFailure;

    bool transfersAborted = false;
    std::optional<TTransferType> transferType; // the last one selected since Connect

    // Reads one entry of the instrument's error queue: true when it is empty.
    [[nodiscard]] bool NoInstrumentError();
};

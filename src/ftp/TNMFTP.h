#pragma once

#include "FtpDialogueState.h"
#include "FtpDownload.h"
#include "FtpListing.h"
#include "FtpResult.h"
#include "FtpTypes.h"
#include "TPowersock.h"

#include <QDeadlineTimer>
#include <QRecursiveMutex>

#include <optional>

class QIODevice;

// The FTP client. Its own socket is the control connection; an upload opens
// a separate data connection (a TPowersock child) in active (PORT) or passive
// (PASV) mode. Every operation is synchronous and runs the event loop while it
// waits; the notifications are called from inside the operation, on the
// caller's thread, before it returns. Its operations return how they ended
// (FtpResult); no exception leaves them.
//
// Host, user, password and file names are text; they travel as UTF-8.
// The FTP representation types the client selects, by their historic
// numbers (a value outside them selects nothing).
enum class TTransferType : int {
    Ascii = 1, // "TYPE A": line ends translated, for text such as NAME files
    Image = 2, // "TYPE I": bytes as they are
    Local8 = 3, // "TYPE L 8"
};

class TNMFTP : public TPowersock
{
    Q_OBJECT

public:
    explicit TNMFTP(QObject *owner);
    ~TNMFTP() override;

    QString UserID;
    QString Password;
    bool Passive = false;
    TFirewallType FirewallType = TFirewallType::FTUser;
    QString FWUserID;
    QString FWPassword;
    bool FWAuthenticate = false;
    int Vendor = 2411;      // kept for callers; no operation reads it
    bool ParseList = false; // kept for callers; no operation reads it

    // The log-in completed. It hides the socket-level TPowersock::OnConnect,
    // which the control connection keeps for itself.
    TNotifyEvent OnConnect;
    TNotifyEvent OnTransactionStart; // just before the file goes over the data connection
    TNotifyEvent OnTransactionStop;  // just after
    TSuccessEvent OnSuccess;
    // Handled = true spares a refused upload its second notification; the
    // operation's result is the failure all the same.
    TFailureEvent OnFailure;
    TUnsupportedEvent OnUnSupportedFunction; // reply 500..502, before OnFailure
    THandlerEvent OnAuthenticationNeeded;    // UserID or Password empty at log-in
    THandlerEvent OnAuthenticationFailed;    // kept for callers; no operation fires it
    TListItemEvent OnListItem;               // kept for callers; no operation fires it

    // The data connection; exists only while an upload runs.
    TPowersock *DataSocket = nullptr;

    // The operations below run the whole dialogue of their step and return
    // how it ended; nothing is raised past them. The notifications still
    // fire from inside, before they return.

    // Connects the control connection and logs in; nothing when connected.
    [[nodiscard]] FtpResult Connect();
    // QUIT and close; nothing when not connected. A refused QUIT is
    // returned after the close.
    [[nodiscard]] FtpResult Disconnect();
    // Cancels the data connection, if there is one.
    void Abort() override;

    // Sends one raw command, classifies it and notifies the outcome.
    [[nodiscard]] FtpResult DoCommand(const QString &command);
    // Sends "TYPE A", "TYPE I" or "TYPE L 8"; any other value does nothing.
    [[nodiscard]] FtpResult SetTransferType(TTransferType transferType);
    // Stores a local file on the server; an empty remote name stores it under
    // the local file's name without its folder.
    // Called with the bytes of the file handed to the data connection so far,
    // after each piece (besides OnPacketSent).
    using TBytesSent = std::function<void(qint64 bytesSent)>;
    [[nodiscard]] FtpResult Upload(const QString &localFile, const QString &remoteFile, TBytesSent progress = {});
    // The same for a file the caller holds open: its bytes are sent from the
    // start, whatever lies at its path by now.
    [[nodiscard]] FtpResult Upload(QFile &file, const QString &remoteFile, TBytesSent progress = {});

    // The extensions below answer with a value, never a notification: a
    // server without them is no failure of the caller's. A dialogue that
    // failed (socket, time-out) is the value's outcome.

    // Asks for the size of a stored file (SIZE, RFC 3659). The size is the
    // byte count only in image type: select it first. Once the server
    // declined SIZE, every later ask is NotImplemented without asking.
    [[nodiscard]] TSizeReply FileSize(const QString &remoteFile);
    // Selects SHA-256 for HASH (OPTS HASH SHA-256); succeeded when the
    // server took it (200), Refused when it did not. Asked once per
    // connection when the server took it or declined the command.
    [[nodiscard]] FtpResult SelectHashSha256();
    // Asks the server for the SHA-256 of a stored file (HASH). Select the
    // algorithm first. Whatever the server answers is the result, read
    // strictly: another algorithm, a digest that is no 64 hex digits, or a
    // range not from the first byte is Malformed, never a hash.
    [[nodiscard]] THashReply FileHash(const QString &remoteFile);
    // What the server offers (FEAT, RFC 2389), asked once per connection. A
    // server without FEAT offers nothing beyond the basic commands.
    [[nodiscard]] FtpListing::Features Features();
    // Lists one folder with MLSD (RFC 3659) over a data connection of its
    // own, within TimeOut and the bounds of FtpListing. A refusal or a
    // listing that can't be trusted is the result. Once the server declined
    // MLSD, every later ask is that refusal, without asking.
    [[nodiscard]] FtpListing::Listing ListFolder(const QString &remoteFolder);
    // Fetches a stored file (RETR) into `into` over a data connection of its
    // own, in the type selected (image for bytes as stored). The file must
    // come whole at `expectedSize`, the size a listing gave: a short, long
    // or refused download is the result, never a notification. Each wait
    // for data is bounded by TimeOut; a dialogue that failed (socket,
    // time-out) is the result's outcome.
    [[nodiscard]] TDownloadReply Download(const QString &remoteFile, qint64 expectedSize, QIODevice &into);
    // Removes a stored file (DELE). The answer is the result, never a
    // notification; a dialogue that failed is the result's outcome.
    [[nodiscard]] TDeleteReply DeleteFile(const QString &remoteFile);
    // Removes a folder (RMD), as DeleteFile a file. Servers answer 550 for
    // a folder that is not empty as for one that is not there: only the
    // drive tells which.
    [[nodiscard]] TDeleteReply RemoveFolder(const QString &remoteFolder);
    // The server's refusal of an extension on this connection, or null.
    [[nodiscard]] const std::optional<QString> &Declined(FtpExtension command) const
    {
        return dialogue.Refusal(command);
    }

    // Held for the whole of an upload: one upload at a time per component.
    QRecursiveMutex TransferLock;

protected:
    // Sends one command and reads its whole reply; returns the first line.
    // Raises, as the socket component does: the operations above catch it.
    QString Transaction(const QString &command) override;
    // Reads (and reports) the rest of a multi-line reply that began with
    // firstLine: all of it within TimeOut, and within the bounds of
    // FtpReply::Assembler (else FTPException, and the connection is closed).
    void ReadReplyLines(const QString &firstLine);

private:
    FtpDialogueState dialogue;
    // Runs one operation's dialogue: what it raises becomes the result.
    template <typename Step>
    FtpResult Guarded(Step step);
    static FtpResult FailureOf(std::exception_ptr error);

    static void RefuseUnsafeText(const QString &text);
    // A data command (STOR, MLSD) that was refused or failed before its
    // verdict was read may leave the server owing replies: one that began to
    // open the data connection reports its failure later ("425 Can't open
    // data connection."), and that reply must not be taken for the answer to
    // the next command. While such replies may be owed, the next command
    // first sends NOOP and drops every reply before NOOP's own.
    void BringRepliesInStep();
    // Replies of an earlier command dropped before NOOP's own, at most;
    // more means the dialogue can't be brought back in step.
    static constexpr int MaxStrayReplies = 8;
    // Sends one command on a live connection, after dropping stale input, and
    // returns its whole reply (ReplyCode set); raises nothing for the code.
    QString SendForReply(const QString &command);
    // Transaction, keeping the reply's lines in `lines` when given.
    QString ReplyTo(const QString &command, QList<QByteArray> *lines);
    // TimeOut from now (no deadline when TimeOut is 0): a whole reply must
    // arrive by then, not each of its lines.
    [[nodiscard]] QDeadlineTimer ReplyDeadline() const;
    [[nodiscard]] QByteArray ReadControlLine(const QDeadlineTimer &deadline);
    // `lines`, when given, receives every line after the first.
    void ReadReplyRest(const QByteArray &firstLine, const QDeadlineTimer &deadline,
                       QList<QByteArray> *lines = nullptr);
    // Runs a wait on the control connection; one that timed out closes it.
    template <typename Wait>
    auto ClosingOnTimeOut(Wait wait);

    // The log-in after the control connection is up: the server's greeting,
    // the firewall's own log-in when FWAuthenticate is set, then USER and
    // PASS (through the proxy). A refusal runs Disconnect before it returns.
    [[nodiscard]] FtpResult LogIn();
    [[noreturn]] void RefuseLogin(const QString &replyLine);
    void ReadGreeting();
    void FirewallLogIn();
    void SendUserAndPassword();
    void SendProxyGreeting();

    // Announces the data connection (PORT or PASV); the refusing reply line
    // when the server will have none.
    [[nodiscard]] std::optional<QString> OpenDataRoute();
    void AcceptDataConnection();
    // Opens a data connection and sends `command` (MLSD, RETR) over the
    // control connection; the refusing reply line when no data will come.
    [[nodiscard]] std::optional<QString> SendDataCommand(const QString &command);
    // Creates the data connection of one transfer, after the checks.
    void PrepareDataSocket(const QString &command);
    void ListFolderSteps(const QString &command, FtpListing::Listing &listing);
    void ReadListing(FtpListing::Listing &listing);
    [[nodiscard]] FtpResult Upload(const QString &localFile, QFile *opened, const QString &remoteFile,
                                   TBytesSent progress);
    // RETR up to the server's verdict; a failed dialogue raises.
    void DownloadSteps(const QString &remoteFile, qint64 expectedSize, QIODevice &into, TDownloadReply &result);
    // Reads the data connection into `into`, at most `expectedSize` bytes.
    [[nodiscard]] TDeleteReply RemoveByCommand(const QString &command);
    void ReadDownloadData(const QString &remoteFile, qint64 expectedSize, QIODevice &into, TDownloadReply &result);
    // The upload up to the server's verdict: true when the file is stored;
    // false after a refusal that the failure handler took (`refusal` then
    // holds it). Other failures raise.
    bool UploadSteps(const QString &localFile, QFile *opened, const QString &remoteFile, TBytesSent progress,
                     FtpResult &refusal);
    // Hands the data socket's pieces to OnPacketSent and to `progress`.
    void WatchPackets(TBytesSent progress);
    // After STOR was accepted: the data connection, the file's bytes and the
    // orderly close that tells the server the file is complete.
    void SendFileData(QFile &file);
    // The server's verdict on the stored file; throws when it is no success.
    void ReadStoreVerdict(const QString &storReply);
    // A refused PORT, PASV or STOR: notified; raises unless the handler took it.
    void RefuseUpload(const QString &replyLine, FtpResult &refusal);
};

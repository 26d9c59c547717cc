#pragma once

#include "FtpDownload.h"
#include "FtpListing.h"
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
// caller's thread, before it returns or raises.
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
    TFailureEvent OnFailure;                 // Handled = true stops the exception
    TUnsupportedEvent OnUnSupportedFunction; // reply 500..502, before OnFailure
    THandlerEvent OnAuthenticationNeeded;    // UserID or Password empty at log-in
    THandlerEvent OnAuthenticationFailed;    // kept for callers; no operation fires it
    TListItemEvent OnListItem;               // kept for callers; no operation fires it

    // The data connection; exists only while an upload runs.
    TPowersock *DataSocket = nullptr;

    // Connects the control connection and logs in; nothing when connected.
    void Connect() override;
    // QUIT and close; nothing when not connected.
    void Disconnect() override;
    // Sends one command and reads its whole reply; returns the first line.
    QString Transaction(const QString &command) override;
    // Cancels the data connection, if there is one.
    void Abort() override;

    // Sends one raw command, classifies it and notifies the outcome.
    void DoCommand(const QString &command);
    // Sends "TYPE A", "TYPE I" or "TYPE L 8"; any other value does nothing.
    void SetTransferType(TTransferType transferType);
    // Stores a local file on the server; an empty remote name stores it under
    // the local file's name without its folder.
    // Called with the bytes of the file handed to the data connection so far,
    // after each piece (besides OnPacketSent).
    using TBytesSent = std::function<void(qint64 bytesSent)>;
    void Upload(const QString &localFile, const QString &remoteFile, TBytesSent progress = {});
    // The same for a file the caller holds open: its bytes are sent from the
    // start, whatever lies at its path by now.
    void Upload(QFile &file, const QString &remoteFile, TBytesSent progress = {});
    // Asks for the size of a stored file (SIZE, RFC 3659). The size is the
    // byte count only in image type: select it first. The answer is the
    // result, never a notification: a server without SIZE is no failure of
    // the caller's. Socket errors and time-outs raise as for any command.
    [[nodiscard]] TSizeReply FileSize(const QString &remoteFile);
    // Selects SHA-256 for HASH (OPTS HASH SHA-256); whether the server
    // took it (200). Socket errors and time-outs raise.
    [[nodiscard]] bool SelectHashSha256();
    // Asks the server for the SHA-256 of a stored file (HASH). Select the
    // algorithm first. Whatever the server answers is the result, read
    // strictly: another algorithm, a digest that is no 64 hex digits, or a
    // range not from the first byte is Malformed, never a hash. Socket
    // errors and time-outs raise as for any command.
    [[nodiscard]] THashReply FileHash(const QString &remoteFile);
    // Asks what the server offers (FEAT, RFC 2389). A server without FEAT
    // offers nothing beyond the basic commands; the answer is the result,
    // never a notification. Socket errors and time-outs raise.
    [[nodiscard]] FtpListing::Features Features();
    // Lists one folder with MLSD (RFC 3659) over a data connection of its
    // own, within TimeOut and the bounds of FtpListing. A refusal or a
    // listing that can't be trusted is the result, never a notification.
    [[nodiscard]] FtpListing::Listing ListFolder(const QString &remoteFolder);
    // Fetches a stored file (RETR) into `into` over a data connection of its
    // own, in the type selected (image for bytes as stored). The file must
    // come whole at `expectedSize`, the size a listing gave: a short, long
    // or refused download is the result, never a notification. Each wait
    // for data is bounded by TimeOut; socket errors and time-outs raise.
    [[nodiscard]] TDownloadReply Download(const QString &remoteFile, qint64 expectedSize, QIODevice &into);
    // Removes a stored file (DELE). The answer is the result, never a
    // notification. Socket errors and time-outs raise.
    [[nodiscard]] TDeleteReply DeleteFile(const QString &remoteFile);
    // Reads (and reports) the rest of a multi-line reply that began with
    // firstLine: all of it within TimeOut, and within the bounds of
    // FtpReply::Assembler (else FTPException, and the connection is closed).
    void ReadReplyLines(const QString &firstLine);

    // Held for the whole of an upload: one upload at a time per component.
    QRecursiveMutex TransferLock;

private:
    static void RefuseUnsafeText(const QString &text);
    // Sends one command on a live connection, after dropping stale input, and
    // returns its whole reply (ReplyCode set); raises nothing for the code.
    QString SendForReply(const QString &command);
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
    [[noreturn]] void RefuseLogin(const QString &replyLine);
    // The steps of Connect: the server's greeting, the firewall's own log-in
    // when FWAuthenticate is set, then USER and PASS (through the proxy).
    void ReadGreeting();
    void FirewallLogIn();
    void LogIn();
    // Announces the data connection (PORT or PASV); the refusing reply line
    // when the server will have none.
    [[nodiscard]] std::optional<QString> OpenDataRoute();
    void AcceptDataConnection();
    void ReadListing(FtpListing::Listing &listing);
    void Upload(const QString &localFile, QFile *opened, const QString &remoteFile, TBytesSent progress);
    void UploadSteps(const QString &localFile, QFile *opened, const QString &remoteFile, TBytesSent progress,
                     bool &done);
    // Hands the data socket's pieces to OnPacketSent and to `progress`.
    void WatchPackets(TBytesSent progress);
    // After STOR was accepted: the data connection, the file's bytes and the
    // orderly close that tells the server the file is complete.
    void SendFileData(QFile &file);
    // The server's verdict on the stored file; throws when it is no success.
    void ReadStoreVerdict(const QString &storReply);
    void RefuseUpload(const QString &replyLine);
};

// FEAT and MLSD of TNMFTP: what the server offers, and one folder's entries.
#include "NMFTPGuarded.h"

#include "DataConnectionScope.h"
#include "FtpReply.h"

#include <QScopeGuard>

#include <algorithm>

FtpListing::Features TNMFTP::Features()
{
    if (const std::optional<FtpListing::Features> &offered = dialogue.Offered())
        return *offered;
    QList<QByteArray> lines;
    FtpListing::Features features;
    features.outcome = Guarded([&] {
        RefuseUnsafeText(QStringLiteral("FEAT"));
        Canceled = false;
        CheckConnection();
        StatusMessage(1, QStringLiteral("FEAT"));
        if (DataAvailable())
            (void)Read(0);
        // A FEAT that is never answered closes the connection as any reply
        // that did not come in time: no QUIT then waits a second bound.
        (void)ReplyTo(QStringLiteral("FEAT"), &lines);
    });
    if (!features.outcome.Succeeded())
        return features;
    features = FtpListing::ParseFeatures(lines);
    dialogue.Offers(features);
    return features;
}

FtpListing::Listing TNMFTP::ListFolder(const QString &remoteFolder)
{
    FtpListing::Listing listing;
    if (const std::optional<QString> &refusal = dialogue.Refusal(FtpExtension::Mlsd)) {
        // Declined as a command: asked again, it would only be refused again.
        listing.code = FtpReply::CodeOf(refusal->toUtf8());
        listing.replyLine = refusal->trimmed();
        return listing;
    }
    const QString command = QStringLiteral("MLSD ") + remoteFolder;
    listing.outcome = Guarded([&] { ListFolderSteps(command, listing); });
    if (listing.outcome.Succeeded() && listing.kind == FtpListing::Listing::Kind::Refused
        && FtpReply::DeclinesCommand(listing.code))
        dialogue.Declined(FtpExtension::Mlsd, listing.replyLine);
    return listing;
}

std::optional<QString> TNMFTP::SendDataCommand(const QString &command)
{
    // A stray line left on the control connection would be read as this
    // command's reply.
    if (DataAvailable())
        (void)Read(0);
    DataSocket = new TPowersock(this);
    DataSocket->TimeOut = TimeOut;
    if (std::optional<QString> refusal = OpenDataRoute())
        return refusal;
    StatusMessage(1, command);
    const QString reply = Transaction(command);
    dialogue.DataCommandSent();
    if (FtpReply::RefusesTransfer(ReplyCode))
        return reply;
    return std::nullopt;
}

void TNMFTP::ListFolderSteps(const QString &command, FtpListing::Listing &listing)
{
    Canceled = false;
    PrepareDataSocket(command);
    DataConnectionScope release(this);
    if (const std::optional<QString> refusal = SendDataCommand(command)) {
        listing.code = ReplyCode;
        listing.replyLine = refusal->trimmed();
        return;
    }
    if (!Passive)
        AcceptDataConnection();
    ReadListing(listing);
    // The close before the verdict: a server waits for it when the client
    // stopped reading early.
    DataSocket->SetLinger(false, 0);
    delete std::exchange(DataSocket, nullptr);

    const QDeadlineTimer deadline = ReplyDeadline();
    const QByteArray verdict = ReadControlLine(deadline);
    if (verdict.isEmpty())
        throw EPeerClosed(QStringLiteral("Connection closed by the server"));
    StatusMessage(1, QString::fromUtf8(verdict));
    ReadReplyRest(verdict, deadline);
    dialogue.BackInStep();
    listing.code = ParseReplyCode(verdict);
    listing.replyLine = QString::fromUtf8(verdict).trimmed();
    if (!listing.problem.isEmpty())
        listing.kind = FtpListing::Listing::Kind::Malformed;
    else if (FtpReply::ReportsFailure(listing.code))
        listing.kind = FtpListing::Listing::Kind::Refused; // the listing broke off
    else
        listing.kind = FtpListing::Listing::Kind::Listed;
}

void TNMFTP::ReadListing(FtpListing::Listing &listing)
{
    // The whole listing within one TimeOut: a server that trickles lines
    // must not hold the run for ever.
    const QDeadlineTimer deadline = ReplyDeadline();
    const int setting = DataSocket->TimeOut;
    const auto restore = qScopeGuard([&] {
        if (DataSocket)
            DataSocket->TimeOut = setting;
    });
    qsizetype bytes = 0;
    try {
        for (;;) {
            if (!deadline.isForever())
                DataSocket->TimeOut = int(std::max<qint64>(1, deadline.remainingTime()));
            const QByteArray line = DataSocket->ReadLn();
            if (line.isEmpty())
                return;
            bytes += line.size();
            if (bytes > FtpListing::MaxBytes || listing.entries.size() >= FtpListing::MaxEntries) {
                listing.problem = QStringLiteral("a listing longer than any folder of the instrument");
                return;
            }
            FtpListing::Line parsed = FtpListing::ParseMlsdLine(line);
            if (!parsed.problem.isEmpty()) {
                listing.problem = parsed.problem;
                return;
            }
            if (parsed.entry)
                listing.entries.append(std::move(*parsed.entry));
        }
    } catch (const EAbortError &) {
        throw;
    } catch (const ESockError &error) {
        // An endless line, or a listing that stopped coming: the socket
        // says which.
        listing.problem = error.Message;
    }
}

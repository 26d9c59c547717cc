#pragma once

// Private to the FTP engine's sources: where its exceptions become results.
#include "ESockError.h"
#include "FTPException.h"
#include "TNMFTP.h"

#include <exception>

// Inside the engine the dialogue's failures travel as exceptions, as the
// socket component raises them; each operation ends here, where they turn
// into the result its caller gets. The text is the exception's, unchanged.
template <typename Step>
FtpResult TNMFTP::Guarded(Step step)
{
    try {
        step();
        return FtpResult::Ok();
    } catch (...) {
        return FailureOf(std::current_exception());
    }
}

inline FtpResult TNMFTP::FailureOf(std::exception_ptr error)
{
    using F = FtpResult::Failure;
    try {
        std::rethrow_exception(error);
    } catch (const FTPException &e) {
        return FtpResult::Failed(F::Refused, e.Message);
    } catch (const ELocalRefusal &e) {
        return FtpResult::Failed(F::Local, e.Message);
    } catch (const EAbortError &e) {
        return FtpResult::Failed(F::Aborted, e.Message);
    } catch (const ETimeOutError &e) {
        return FtpResult::Failed(F::TimedOut, e.Message);
    } catch (const EPeerClosed &e) {
        return FtpResult::Failed(F::Closed, e.Message);
    } catch (const ESockError &e) {
        return FtpResult::Failed(F::Connection, e.Message);
    } catch (const ENotConnected &e) {
        return FtpResult::Failed(F::NotConnected, e.Message);
    } catch (const EConvertError &e) {
        return FtpResult::Failed(F::Malformed, e.Message);
    } catch (const Exception &e) {
        return FtpResult::Failed(F::Local, e.Message);
    } catch (const std::exception &e) {
        return FtpResult::Failed(F::Local, QString::fromUtf8(e.what()));
    } catch (...) {
        return FtpResult::Failed(F::Local, QStringLiteral("Unknown error"));
    }
}

#include "platform/MessageBox.h"

#include <cstdio>
#include <utility>

namespace platform {
namespace {

MessageBoxResponder &installedResponder()
{
    static MessageBoxResponder responder;
    return responder;
}

MessageBoxResponder &installedPresenter()
{
    static MessageBoxResponder presenter;
    return presenter;
}

int writeToStandardError(const QString &text, const QString &caption, int flags)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    return IsQuestion(flags) ? IDNO : IDOK;
}

} // namespace

int MessageBox(const QString &text, const QString &caption, int flags)
{
    // Copies first: a responder may install another one while it answers.
    if (const MessageBoxResponder responder = installedResponder())
        return responder(text, caption, flags);
    if (const MessageBoxResponder presenter = installedPresenter())
        return presenter(text, caption, flags);
    return writeToStandardError(text, caption, flags);
}

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder)
{
    return std::exchange(installedResponder(), std::move(responder));
}

MessageBoxResponder SetMessageBoxPresenter(MessageBoxResponder presenter)
{
    return std::exchange(installedPresenter(), std::move(presenter));
}

} // namespace platform

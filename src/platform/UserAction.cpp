#include "platform/UserAction.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

namespace platform {

QString ErrorCaption()
{
    return QStringLiteral("vxUpgrade");
}

QString ExceptionMessage(const std::exception &error)
{
    const auto *own = dynamic_cast<const Exception *>(&error);
    return own ? own->Message : QString::fromUtf8(error.what());
}

void ShowErrorMessage(const QString &message)
{
    MessageBox(message, ErrorCaption(), MB_ICONERROR);
}

void ShowException(const std::exception &error)
{
    ShowErrorMessage(ExceptionMessage(error));
}

void ShowUnknownException()
{
    ShowErrorMessage(QStringLiteral("Unknown error"));
}

namespace {

// Showing the box may fail in turn (no memory left, say); that must not get
// past the boundary either.
template <typename Show>
void showQuietly(Show show) noexcept
{
    try {
        show();
    } catch (...) {
    }
}

} // namespace

void RunUserAction(const std::function<void()> &action) noexcept
{
    try {
        action();
    } catch (const std::exception &error) {
        showQuietly([&] { ShowException(error); });
    } catch (...) {
        showQuietly([] { ShowUnknownException(); });
    }
}

int RunGuarded(const std::function<void()> &program) noexcept
{
    RunUserAction(program);
    return 0;
}

} // namespace platform

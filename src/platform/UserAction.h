#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

// The application's handler for errors: an exception that ends a user action
// (a button, box or field handler) is shown to the operator in an error box
// with its message, and the program goes on with its window open.
//
// Handlers run inside Qt's event delivery, which is not exception-safe: an
// exception must be caught before it gets back there. So every handler is
// connected through GuardUserAction, which catches at that boundary.
namespace platform {

// The caption of the error box: the program's title.
[[nodiscard]] QString ErrorCaption();

// The message of an exception as the operator reads it: the system's own
// exceptions carry a QString, others only what() (UTF-8 by our convention).
[[nodiscard]] QString ExceptionMessage(const std::exception &error);

// The error box: the message, error icon, OK.
void ShowErrorMessage(const QString &message);
void ShowException(const std::exception &error);
void ShowUnknownException();

// Runs `action`; an exception that leaves it is shown in the error box.
void RunUserAction(const std::function<void()> &action) noexcept;

// `action` wrapped for connect(): the slot runs it through RunUserAction.
template <typename Action>
[[nodiscard]] auto GuardUserAction(Action action)
{
    return [action = std::move(action)]() { RunUserAction(action); };
}

// Runs the program's start-up and message loop. An exception that escapes
// them is shown in the error box, and the result is still 0: the program
// always ends with exit code 0.
int RunGuarded(const std::function<void()> &program) noexcept;

} // namespace platform

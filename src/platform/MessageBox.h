#pragma once

#include <QString>

#include <functional>

// The one way the program asks the operator something: a modal box with a
// text, a caption and the original platform's style flags, answered by the
// button pressed. Tests install a responder so that no box ever blocks them.
namespace platform {

enum MessageBoxFlags : int {
    MB_OK = 0,
    MB_YESNO = 4,
    MB_ICONERROR = 16,
    MB_ICONQUESTION = 32,
    MB_ICONINFORMATION = 64,
};

enum MessageBoxResult : int {
    IDOK = 1,
    IDYES = 6,
    IDNO = 7,
};

using MessageBoxResponder =
    std::function<int(const QString &text, const QString &caption, int flags)>;

// Shows the box (or hands it to the installed responder) and returns IDOK,
// IDYES or IDNO.
int MessageBox(const QString &text, const QString &caption, int flags);

// Installs a responder in place of the real modal box; an empty responder
// restores the real box. Returns the responder that was installed before.
MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder);

} // namespace platform

#pragma once

#include <QString>

#include <functional>

// The one way the program asks the operator something: a modal box with a
// text, a caption and the original platform's style flags, answered by the
// button pressed. The box itself belongs to the GUI part of the platform,
// which installs it as the presenter; tests install a responder so that no
// box ever blocks them.
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

// Hands the box to the installed responder, else to the presenter, and
// returns IDOK, IDYES or IDNO. With neither (a program without windows) the
// box is written to standard error and answered at once, OK or No, so that
// nothing waits for an answer no one can give.
int MessageBox(const QString &text, const QString &caption, int flags);

// Installs a responder in front of the presenter; an empty responder
// restores the presenter. Returns the responder that was installed before.
MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder);

// The real box; the GUI part installs its modal box here. Returns the one
// installed before.
MessageBoxResponder SetMessageBoxPresenter(MessageBoxResponder presenter);

// True for a box with the Yes and No buttons.
[[nodiscard]] inline bool IsQuestion(int flags)
{
    return (flags & 0x0F) == MB_YESNO;
}

} // namespace platform

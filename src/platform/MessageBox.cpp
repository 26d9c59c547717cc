#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace platform {
namespace {

MessageBoxResponder &installedResponder()
{
    static MessageBoxResponder responder;
    return responder;
}

int showModalBox(const QString &text, const QString &caption, int flags)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption);
    box.setText(text);

    const int icon = flags & 0xF0;
    if (icon == MB_ICONERROR)
        box.setIcon(QMessageBox::Critical);
    else if (icon == MB_ICONQUESTION)
        box.setIcon(QMessageBox::Question);
    else if (icon == MB_ICONINFORMATION)
        box.setIcon(QMessageBox::Information);

    if ((flags & 0x0F) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

} // namespace

int MessageBox(const QString &text, const QString &caption, int flags)
{
    // Copy first: a responder may install another one while it answers.
    const MessageBoxResponder responder = installedResponder();
    if (responder)
        return responder(text, caption, flags);
    return showModalBox(text, caption, flags);
}

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder)
{
    return std::exchange(installedResponder(), std::move(responder));
}

} // namespace platform

#include "gui/ModalMessageBox.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

int ShowModalMessageBox(const QString &text, const QString &caption, int flags)
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

    if (IsQuestion(flags)) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

} // namespace platform

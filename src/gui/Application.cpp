#include "gui/Application.h"

#include "gui/ModalMessageBox.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"

namespace platform {

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    SetMessageBoxPresenter(ShowModalMessageBox);
}

TApplication::~TApplication()
{
    SetMessageBoxPresenter({});
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    RunUserAction([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace platform

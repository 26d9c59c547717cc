#pragma once

#include <QApplication>

namespace platform {

// The application object of the window: it puts the modal message box in
// place as the program's box (see platform/MessageBox.h).
//
// Every handler runs through platform::GuardUserAction, so no exception
// reaches Qt's event delivery. notify() still catches one, as a last resort
// that keeps the program alive and tells the operator: Qt does not promise
// to survive an exception that has crossed it, so this is no way to handle
// errors, only the way not to lose one silently.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);
    ~TApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace platform

#pragma once

#include <QApplication>

#include <exception>
#include <functional>

namespace platform {

// The application object with the toolkit behaviour the program relies on:
// an exception that leaves the handling of a user action (or of any other
// event) is shown to the operator in an error box with its message, and the
// program goes on with its window open. Qt itself would let it unwind
// through the event loop, which Qt does not survive.
//
// Note for code that pumps events while it waits (the FTP client): an
// exception thrown by a slot that runs inside such pumping is caught and
// shown here, at the innermost event delivery; it does not reach the waiting
// operation. Record the failure in the slot and throw from the operation.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The error box of the toolkit: the exception's message, error icon, OK.
    static void ShowException(const std::exception &error);
    static void ShowUnknownException();

    // Runs the program's start-up and message loop. An exception that escapes
    // them is shown in the error box, and the result is still 0: the program
    // always ends with exit code 0.
    static int RunGuarded(const std::function<void()> &program);

    // The caption of the error box: the program's title.
    static QString Title();
};

} // namespace platform

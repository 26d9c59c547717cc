#include "platform/Application.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

namespace platform {

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowUnknownException();
    }
    return false;
}

void TApplication::ShowException(const std::exception &error)
{
    // The system's own exceptions carry their text as a QString; others only
    // have what() (UTF-8 by our convention).
    const auto *own = dynamic_cast<const Exception *>(&error);
    const QString message = own ? own->Message : QString::fromUtf8(error.what());
    MessageBox(message, Title(), MB_ICONERROR);
}

void TApplication::ShowUnknownException()
{
    MessageBox(QStringLiteral("Unknown error"), Title(), MB_ICONERROR);
}

int TApplication::RunGuarded(const std::function<void()> &program)
{
    try {
        program();
    } catch (const std::exception &error) {
        ShowException(error);
    } catch (...) {
        ShowUnknownException();
    }
    return 0;
}

QString TApplication::Title()
{
    return QStringLiteral("vxUpgrade");
}

} // namespace platform

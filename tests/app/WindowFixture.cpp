#include "WindowFixture.h"

#include "app/Uvxupgrade.h"
#include "support/RunFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

template <typename Control>
Control *find(const QWidget &window, const char *name)
{
    auto *control = window.findChild<Control *>(QLatin1String(name));
    if (!control)
        qFatal("the window has no control %s", name);
    return control;
}

} // namespace

Controls::Controls(const QWidget &window)
    : Label1(find<QLabel>(window, "Label1"))
    , Label2(find<QLabel>(window, "Label2"))
    , mmStatus(find<QPlainTextEdit>(window, "mmStatus"))
    , ProgressBar(find<QProgressBar>(window, "ProgressBar"))
    , btnCopy(find<QPushButton>(window, "btnCopy"))
    , btnQuit(find<QPushButton>(window, "btnQuit"))
    , IPAddress(find<QLineEdit>(window, "IPAddress"))
    , Label3(find<QLabel>(window, "Label3"))
    , cbKRN3(find<QCheckBox>(window, "cbKRN3"))
    , cbQMX53(find<QCheckBox>(window, "cbQMX53"))
    , cbLPS3(find<QCheckBox>(window, "cbLPS3"))
    , cbSBX3(find<QCheckBox>(window, "cbSBX3"))
    , cbPRZ53(find<QCheckBox>(window, "cbPRZ53"))
{
}

QStringList memoLines(const QPlainTextEdit *memo)
{
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QStringList memoWithCopyRunsSorted(const QPlainTextEdit *memo)
{
    return withCopyRunsSorted(memoLines(memo));
}

void pressCopy(TfrmMain &window)
{
    QTest::mouseClick(controls(window).btnCopy, Qt::LeftButton);
}

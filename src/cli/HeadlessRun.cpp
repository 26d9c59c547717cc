#include "cli/HeadlessRun.h"

#include "app/Uvxupgrade.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/ProgressText.h"
#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

namespace cli {

namespace {

// How long the offscreen platform may take to make the window active. It is
// immediate in practice; the bound only keeps a broken platform from hanging.
constexpr int ActivationTimeoutMs = 5000;
// The progress line's rate and time left change between bar steps too.
constexpr int ProgressRefreshMs = 250;

QCheckBox *moduleBox(const TfrmMain &window, const QString &name)
{
    if (name == QLatin1String("KRN3"))
        return window.cbKRN3;
    if (name == QLatin1String("LPS3"))
        return window.cbLPS3;
    if (name == QLatin1String("QMX53"))
        return window.cbQMX53;
    if (name == QLatin1String("SBX3"))
        return window.cbSBX3;
    if (name == QLatin1String("PRZ53"))
        return window.cbPRZ53;
    return nullptr;
}

} // namespace

HeadlessRun::HeadlessRun(const CliOptions &options, Console &console, ConsoleBoxes &boxes, QObject *parent)
    : QObject(parent)
    , options(options)
    , console(console)
    , boxes(boxes)
{
}

HeadlessRun::~HeadlessRun()
{
    // The window goes first, while its boxes still reach the console: its
    // link may report a refused QUIT as it closes.
    window.reset();
    if (responderInstalled)
        platform::SetMessageBoxResponder(previousResponder);
}

int HeadlessRun::exec()
{
    if (options.programDir && !QFileInfo(*options.programDir).isDir()) {
        console.printError(QStringLiteral("vxupgrade-cli: --dir: no folder \"%1\"").arg(*options.programDir));
        return ExitUsage;
    }
    std::optional<QString> programDir;
    if (options.programDir)
        programDir = QDir::toNativeSeparators(QFileInfo(*options.programDir).absoluteFilePath());

    // No box may wait for a click on a screen no one sees: from here to the
    // window's end every box goes to the console.
    previousResponder = platform::SetMessageBoxResponder(
        [this](const QString &text, const QString &caption, int flags) { return boxes.respond(text, caption, flags); });
    responderInstalled = true;
    window = std::make_unique<TfrmMain>(programDir);

    // A box is usable only when the catalogue enabled it: its module is
    // catalogued and has a SIGNAL folder. The window would not let the
    // operator tick it either.
    for (const QString &name : options.signalModules) {
        QCheckBox *box = moduleBox(*window, name);
        if (!box || !box->isEnabled()) {
            console.printError(QStringLiteral("vxupgrade-cli: --signals: the box of %1 is disabled: %1 is not in "
                                              "the catalogue of %2 or has no folder target/%1/SIGNAL")
                                   .arg(name, QDir::toNativeSeparators(window->exeDir)));
            return ExitUsage;
        }
    }

    connect(window->mmStatus->document(), &QTextDocument::contentsChange, this, &HeadlessRun::echoNewMemoLines);
    if (console.showsProgress()) {
        connect(window->ProgressBar, &QProgressBar::valueChanged, this, &HeadlessRun::updateProgress);
        // The FTP client's waits turn the event loop, so the timer ticks
        // while a big file is on its way.
        progressTimer = new QTimer(this);
        connect(progressTimer, &QTimer::timeout, this, &HeadlessRun::updateProgress);
        progressTimer->start(ProgressRefreshMs);
    }

    if (!activateWindow()) {
        console.printError(QStringLiteral("vxupgrade-cli: the window could not be made active on the offscreen platform"));
        return ExitFailed;
    }
    // No one ever sees an offscreen window's pixels, and painting it after
    // every memo line and bar step costs more than the upload of a small
    // file. The controls keep their state; only the drawing is skipped.
    window->setUpdatesEnabled(false);

    typeAddress();
    for (const QString &name : options.signalModules) {
        QCheckBox *box = moduleBox(*window, name);
        click(box);
        if (!box->isChecked()) {
            console.printError(QStringLiteral("vxupgrade-cli: the box of %1 did not take the click").arg(name));
            return ExitFailed;
        }
    }

    // Clicking Copy takes the focus from the field, which is when the window
    // drops the blanks of the address; the field must have taken it whole.
    window->btnCopy->setFocus(Qt::MouseFocusReason);
    if (window->ipAddressText != options.address) {
        console.printError(QStringLiteral("vxupgrade-cli: the address field holds \"%1\", not \"%2\"")
                               .arg(window->ipAddressText, options.address));
        return ExitFailed;
    }

    if (stopRequested) {
        console.printError(QStringLiteral("vxupgrade-cli: stopped before the run began; nothing was sent"));
        return ExitFailed;
    }
    runStarted = true;
    click(window->btnCopy);

    if (progressTimer)
        progressTimer->stop();
    console.clearProgress();
    return outcome();
}

void HeadlessRun::requestStop()
{
    if (stopRequested)
        return;
    stopRequested = true;
    console.printError(QStringLiteral("vxupgrade-cli: stopping, as closing the window would"));
    // What the title-bar close does: a run under way is stopped and closes
    // the link and the window itself.
    if (window && runStarted)
        window->close();
}

bool HeadlessRun::activateWindow()
{
    window->show();
    window->activateWindow();
    const QDeadlineTimer deadline(ActivationTimeoutMs);
    while (QApplication::activeWindow() != window.get()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void HeadlessRun::typeAddress()
{
    QLineEdit *field = window->IPAddress;
    field->setFocus(Qt::MouseFocusReason);
    field->setCursorPosition(0);
    // Key by key: the field's mask moves a dot typed early to the next group,
    // as it does for the operator.
    for (const QChar character : options.address) {
        const int key = character == u'.' ? int(Qt::Key_Period) : int(Qt::Key_0) + character.digitValue();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(field, &press);
        QCoreApplication::sendEvent(field, &release);
    }
}

void HeadlessRun::click(QAbstractButton *button)
{
    // A press gives the button the focus, as the platform does for a real
    // click; the events go through the application object, which shows an
    // error that escapes the handler in an error box, as in the window.
    button->setFocus(Qt::MouseFocusReason);
    const QPointF centre = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &press);
    QCoreApplication::sendEvent(button, &release);
}

void HeadlessRun::echoNewMemoLines()
{
    const QTextDocument *document = window->mmStatus->document();
    // The run clears the memo first; an empty memo holds one empty block
    // that is no line of the run's.
    if (document->isEmpty()) {
        memoLinesPrinted = 0;
        return;
    }
    const int blocks = document->blockCount();
    if (blocks < memoLinesPrinted)
        memoLinesPrinted = 0;
    for (int i = memoLinesPrinted; i < blocks; ++i)
        console.printLine(document->findBlockByNumber(i).text());
    memoLinesPrinted = blocks;
}

void HeadlessRun::updateProgress()
{
    if (!window)
        return;
    const qint64 total = window->totalBytes;
    const int percent = window->ProgressBar->value();
    if (total <= 0 && percent <= 0)
        return;
    // The copy starts right after the trees have been measured.
    if (!copyClock.isValid())
        copyClock.start();
    console.setProgress(progressText(percent, window->copiedBytes, total, double(copyClock.elapsed()) / 1000.0));
}

int HeadlessRun::outcome() const
{
    if (stopRequested) {
        console.printError(QStringLiteral("vxupgrade-cli: stopped; the instrument may hold part of the upgrade"));
        return ExitFailed;
    }
    if (boxes.errorBoxes() > 0)
        return ExitFailed;
    if (boxes.declined())
        return ExitDeclined;
    if (boxes.successShown())
        return ExitUpgraded;
    console.printError(QStringLiteral("vxupgrade-cli: the run ended without telling its outcome"));
    return ExitFailed;
}

} // namespace cli

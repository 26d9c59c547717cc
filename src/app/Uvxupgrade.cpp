#include "app/Uvxupgrade.h"

#include "platform/Utilities.h"
#include "instrument/Uvx900.h"
#include "platform/LocalFolder.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"
#include "upgrade/run/RunAssembly.h"
#include "upgrade/run/UpgradeRun.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

TfrmMain::TfrmMain(std::optional<QString> programDir, InstrumentPorts ports, QWidget *parent)
    : QWidget(parent)
{
    CreateControls();
    SetTabOrder();
    ConnectHandlers();

    ipAddressText.clear();
    exeDir = ProgramFolder(programDir);
    moduleList = upgrade::MakeCatalogue(exeDir);
    for (const QString &name : upgrade::ModuleCatalogue::BoxNames())
        showModuleBox(name);
    moduleList->OnBoxChanged = [this](const QString &name) { showModuleBox(name); };

    upgrade::RunSetup setup;
    setup.exeDir = exeDir;
    setup.ports = ports;
    // Read once, as the catalogue is: vxupgrade.conf and the trusted keys.
    setup.settings = upgrade::RunSettings::FromEnvironment();
    setup.linkOwner = this;
    upgrade::RunParts parts = upgrade::AssembleRun(*moduleList, setup, *this);
    linkForm = parts.link.release(); // the window's child from here on
    upgradeRun = std::move(parts.run);
}

TfrmMain::~TfrmMain()
{
    // The run refers to the link and the catalogue: it goes first.
    upgradeRun.reset();
}


void TfrmMain::ConnectHandlers()
{
    // Connected after the mask has filled the field, so that making the
    // window is no change of the address.
    lastAddressText = IPAddress->displayText();
    // Every handler runs through the guard: an error it raises is shown in
    // the error box and never gets back into Qt's event delivery.
    connect(IPAddress, &QLineEdit::textChanged, this, platform::GuardUserAction([this] {
        if (IPAddress->displayText() != lastAddressText)
            IPAddressChange();
    }));
    IPAddress->installEventFilter(this);

    connect(btnCopy, &QPushButton::clicked, this, platform::GuardUserAction([this] { btnCopyClick(); }));
    connect(btnQuit, &QPushButton::clicked, this, platform::GuardUserAction([this] { btnQuitClick(); }));
    // toggled, not clicked: the handlers also run when code changes a box,
    // and only when its state really changes.
    const std::pair<QCheckBox *, void (TfrmMain::*)()> handlers[] = {
        {cbKRN3, &TfrmMain::cbKRN3Click}, {cbLPS3, &TfrmMain::cbLPS3Click}, {cbQMX53, &TfrmMain::cbQMX53Click},
        {cbPRZ53, &TfrmMain::cbPRZ53Click}, {cbSBX3, &TfrmMain::cbSBX3Click},
    };
    for (const auto &[box, handler] : handlers)
        connect(box, &QCheckBox::toggled, this, platform::GuardUserAction([this, handler] { (this->*handler)(); }));
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == IPAddress && event->type() == QEvent::FocusOut)
        platform::RunUserAction([this] { IPAddressExit(); });
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::IPAddressChange()
{
    lastAddressText = IPAddress->displayText();
    ipAddressText = lastAddressText;
}

void TfrmMain::IPAddressExit()
{
    // Only the blanks go; anything else that is wrong with the address is
    // told by Connect when it cannot reach it.
    ipAddressText.remove(u' ');
}

// --- the catalogue and the module boxes --------------------------------

void TfrmMain::LoadCatalogue(const QString &iniPath)
{
    if (moduleList)
        moduleList->LoadCatalogue(iniPath);
}

void TfrmMain::ScanTargetFolder()
{
    if (moduleList)
        moduleList->ScanTargetFolder();
}

void TfrmMain::SetModuleSelected(const QString &name, bool selected)
{
    if (moduleList)
        moduleList->SetModuleSelected(name, selected);
}

QCheckBox *TfrmMain::CheckBoxOf(const QString &moduleName) const
{
    // Each box is captioned with its module's name.
    for (QCheckBox *box : {cbKRN3, cbLPS3, cbQMX53, cbSBX3, cbPRZ53}) {
        if (box->text() == moduleName)
            return box;
    }
    return nullptr;
}

void TfrmMain::moduleBoxClicked(const QString &moduleName)
{
    // A released catalogue: a box changed while the window closes touches nothing.
    if (moduleList && CheckBoxOf(moduleName))
        moduleList->TickBox(moduleName, CheckBoxOf(moduleName)->isChecked());
}

void TfrmMain::showModuleBox(const QString &moduleName)
{
    if (!moduleList)
        return;
    const upgrade::ModuleCatalogue::Box state = moduleList->box(moduleName);
    QCheckBox *box = CheckBoxOf(moduleName);
    if (!box)
        return;
    box->setEnabled(state.enabled);
    // Runs the box's handler when the state changes, as a tick by code does.
    box->setChecked(state.ticked);
}

void TfrmMain::cbKRN3Click()
{
    moduleBoxClicked(upgrade::ModuleName::KRN3);
}

void TfrmMain::cbLPS3Click()
{
    moduleBoxClicked(upgrade::ModuleName::LPS3);
}

void TfrmMain::cbQMX53Click()
{
    moduleBoxClicked(upgrade::ModuleName::QMX53);
}

void TfrmMain::cbPRZ53Click()
{
    moduleBoxClicked(upgrade::ModuleName::PRZ53);
}

void TfrmMain::cbSBX3Click()
{
    moduleBoxClicked(upgrade::ModuleName::SBX3);
}

// --- the run ---------------------------------------------------------------

bool TfrmMain::runInProgress() const
{
    return upgradeRun && upgradeRun->running();
}

void TfrmMain::btnCopyClick()
{
    // The FTP waits keep the window live: a second run started inside the
    // first would reconnect the link it is using, and one started while the
    // link closes would use a catalogue on its way out.
    if (closingStarted || !upgradeRun || upgradeRun->running())
        return;

    btnCopy->setEnabled(false);
    const upgrade::RunResult result = upgradeRun->Run(ipAddressText);
    btnCopy->setEnabled(!closingStarted);

    if (result.mayRetry) {
        // The window stays for another try, so the pointer must not stay busy.
        unsetCursor();
        if (result.raised)
            platform::ShowErrorMessage(result.message);
    } else {
        CloseMainWindow();
    }
}

void TfrmMain::btnQuitClick()
{
    // During a run this stops the run, which closes the window once it has
    // unwound (the title-bar close does the same).
    CloseMainWindow();
}

void TfrmMain::CloseMainWindow()
{
    if (runInProgress()) {
        upgradeRun->RequestStop();
        return;
    }
    if (closingStarted)
        return;
    closingStarted = true;
    btnCopy->setEnabled(false);
    btnQuit->setEnabled(false);

    // Each member is taken out before it is released: the link's destructor
    // waits for the instrument's answer to QUIT and keeps the event loop
    // turning, and nothing that runs meanwhile may find it half gone.
    upgradeRun.reset();
    moduleList.reset();
    delete std::exchange(linkForm, nullptr);
    close();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    if (runInProgress()) {
        // The run still uses the catalogue and the link: it closes the window
        // itself once it has stopped.
        event->ignore();
        platform::RunUserAction([this] { upgradeRun->RequestStop(); });
        return;
    }
    QWidget::closeEvent(event);
}

// --- what the run reports --------------------------------------------------

void TfrmMain::runStarted()
{
    mmStatus->clear();
    ProgressBar->setValue(0);
}

void TfrmMain::stepEntered(upgrade::RunStep step)
{
    // Right after the low-space question, before the kit is read: from
    // there on every end of the run but an error closes the window, so
    // nothing sets the pointer back.
    if (step == upgrade::RunStep::Measure)
        setCursor(Qt::WaitCursor);
}

void TfrmMain::memoLine(const QString &line)
{
    mmStatus->appendPlainText(line);
}

void TfrmMain::progress(const upgrade::RunProgress &progress)
{
    ProgressBar->setValue(progress.bar);
}

int TfrmMain::box(const QString &text, const QString &caption, int flags)
{
    return platform::MessageBox(text, caption, flags);
}

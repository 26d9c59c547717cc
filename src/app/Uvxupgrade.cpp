#include "app/Uvxupgrade.h"

#include "platform/Utilities.h"
#include "instrument/Uvx900.h"
#include "platform/LocalFolder.h"
#include "platform/MessageBox.h"
#include "platform/UserAction.h"
#include "upgrade/common/AddressField.h"
#include "upgrade/run/RunAssembly.h"
#include "upgrade/run/UpgradeRun.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace {

// The window's font is Courier New, 12 pixels high (9 points at 96 dots per
// inch). Where it is missing, Liberation Mono has the same metrics, so every
// text still fits the fixed control sizes.
QFont windowFont()
{
    static const bool substituted = [] {
        QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    // Whole-pixel advances (7 pixels a character), as the window's layout
    // was measured with: the red warning is exactly 50 characters in 350
    // pixels, and fractional advances would cut its end off.
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QLabel *makeLabel(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QCheckBox *makeModuleBox(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *box = new QCheckBox(text, parent);
    box->setGeometry(geometry);
    box->setEnabled(false);
    box->setChecked(false);
    return box;
}

QPushButton *makeButton(QWidget *parent, const QString &text, const QRect &geometry)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(geometry);
    // Neither button may answer Return or Escape on its own.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TfrmMain::TfrmMain(std::optional<QString> programDir, InstrumentPorts ports, QWidget *parent)
    : QWidget(parent)
{
    CreateControls();
    SetTabOrder();
    ConnectHandlers();

    ipAddressText.clear();
    exeDir = ProgramFolder(programDir);
    moduleList = upgrade::MakeCatalogue(exeDir);
    for (const QString &name : ModuleCatalogue::BoxNames())
        showModuleBox(name);
    moduleList->OnBoxChanged = [this](const QString &name) { showModuleBox(name); };

    upgrade::RunSetup setup;
    setup.exeDir = exeDir;
    setup.ports = ports;
    // Read once, as the catalogue is: vxupgrade.conf and the trusted keys.
    setup.signaturePolicy = upgrade::SignaturePolicy::FromEnvironment();
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

void TfrmMain::CreateControls()
{
    setWindowTitle(QStringLiteral("VX900 Upgrade"));
    setFont(windowFont());
    resize(ClientWidth, ClientHeight);
    if (const QScreen *where = screen()) {
        const QRect area = where->availableGeometry();
        move(area.center() - QPoint(OuterWidth / 2, OuterHeight / 2));
    }

    Label1 = makeLabel(this, QStringLiteral("IP Address:"), {8, 16, 77, 15});

    Label2 = makeLabel(this, QStringLiteral("DO NOT TURN OFF THE POWER OF VX900 UNTIL COMPLETED"), {8, 40, 350, 15});
    QPalette warning = Label2->palette();
    warning.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label2->setPalette(warning);

    GroupBox1 = new QGroupBox(QStringLiteral("Status"), this);
    GroupBox1->setGeometry(8, 72, 353, 273);

    mmStatus = new QPlainTextEdit(GroupBox1);
    mmStatus->setGeometry(8, 24, 337, 217);
    mmStatus->setReadOnly(true);
    mmStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmStatus->setTabChangesFocus(true);

    ProgressBar = new QProgressBar(GroupBox1);
    ProgressBar->setGeometry(8, 248, 337, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    btnCopy = makeButton(this, QStringLiteral("Copy"), {280, 376, 75, 25});
    btnQuit = makeButton(this, QStringLiteral("Quit"), {280, 416, 75, 25});

    IPAddress = new QLineEdit(this);
    IPAddress->setGeometry(88, 8, 113, 23);
    IPAddress->setInputMask(upgrade::AddressFieldMask);
    IPAddress->setMaxLength(15);
    IPAddress->setAttribute(Qt::WA_InputMethodEnabled, false);

    Label3 = makeLabel(this, QStringLiteral("Select Modules to download signals"), {8, 352, 238, 16});
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);

    cbKRN3 = makeModuleBox(this, ModuleName::KRN3, {16, 376, 57, 17});

    Bevel1 = new QFrame(this);
    Bevel1->setGeometry(8, 368, 241, 65);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    // Drawn about the boxes, never over them, and never in the way of a click.
    Bevel1->lower();
    Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);

    cbQMX53 = makeModuleBox(this, ModuleName::QMX53, {16, 408, 57, 17});
    cbLPS3 = makeModuleBox(this, ModuleName::LPS3, {16, 392, 57, 17});
    cbSBX3 = makeModuleBox(this, ModuleName::SBX3, {88, 376, 65, 17});
    cbPRZ53 = makeModuleBox(this, ModuleName::PRZ53, {88, 392, 65, 17});

    // The controls' own names, so that the controls can be found by them.
    const std::pair<QWidget *, const char *> names[] = {
        {Label1, "Label1"}, {Label2, "Label2"}, {GroupBox1, "GroupBox1"}, {mmStatus, "mmStatus"},
        {ProgressBar, "ProgressBar"}, {btnCopy, "btnCopy"}, {btnQuit, "btnQuit"}, {IPAddress, "IPAddress"},
        {Label3, "Label3"}, {cbKRN3, "cbKRN3"}, {Bevel1, "Bevel1"}, {cbQMX53, "cbQMX53"}, {cbLPS3, "cbLPS3"},
        {cbSBX3, "cbSBX3"}, {cbPRZ53, "cbPRZ53"},
    };
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));
    setObjectName(QStringLiteral("frmMain"));

    IPAddress->setFocus();
}

void TfrmMain::SetTabOrder()
{
    const QWidget *const chain[] = {IPAddress, mmStatus, btnCopy, btnQuit, cbKRN3, cbQMX53, cbLPS3, cbSBX3, cbPRZ53};
    for (size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(const_cast<QWidget *>(chain[i - 1]), const_cast<QWidget *>(chain[i]));
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
    const ModuleCatalogue::Box state = moduleList->box(moduleName);
    QCheckBox *box = CheckBoxOf(moduleName);
    if (!box)
        return;
    box->setEnabled(state.enabled);
    // Runs the box's handler when the state changes, as a tick by code does.
    box->setChecked(state.ticked);
}

void TfrmMain::cbKRN3Click()
{
    moduleBoxClicked(ModuleName::KRN3);
}

void TfrmMain::cbLPS3Click()
{
    moduleBoxClicked(ModuleName::LPS3);
}

void TfrmMain::cbQMX53Click()
{
    moduleBoxClicked(ModuleName::QMX53);
}

void TfrmMain::cbPRZ53Click()
{
    moduleBoxClicked(ModuleName::PRZ53);
}

void TfrmMain::cbSBX3Click()
{
    moduleBoxClicked(ModuleName::SBX3);
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
    const RunResult result = upgradeRun->Run(ipAddressText);
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

void TfrmMain::stepEntered(RunStep step)
{
    // Right after the low-space question, before the kit is read: from
    // there on every end of the run but an error closes the window, so
    // nothing sets the pointer back.
    if (step == RunStep::Measure)
        setCursor(Qt::WaitCursor);
}

void TfrmMain::memoLine(const QString &line)
{
    mmStatus->appendPlainText(line);
}

void TfrmMain::progress(const RunProgress &progress)
{
    ProgressBar->setValue(progress.bar);
}

int TfrmMain::box(const QString &text, const QString &caption, int flags)
{
    return platform::MessageBox(text, caption, flags);
}

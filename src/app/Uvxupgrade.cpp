#include "app/Uvxupgrade.h"

#include "app/Utilities.h"
#include "instrument/Uvx900.h"
#include "platform/LocalFolder.h"
#include "platform/ProgramFile.h"

#include <QCheckBox>
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

TfrmMain::TfrmMain(std::optional<QString> programDir, QWidget *parent)
    : TUpgradeWindow(parent)
{
    CreateControls();
    SetTabOrder();
    ConnectHandlers();

    ipAddressText.clear();
    exeDir.clear();
    linkForm = new TfrmVX900(this);
    fileCount = 0;
    copiedBytes = 0;
    totalBytes = 0;

    if (programDir) {
        exeDir = *programDir;
        if (!exeDir.endsWith(platform::LocalSeparator))
            exeDir += platform::LocalSeparator;
    } else {
        exeDir = SplitPath(platform::ModuleFileName()).folder;
    }

    // The file's existence alone decides, whatever it holds.
    const QString iniPath = exeDir + QStringLiteral("vxUpgrade.ini");
    if (platform::FileExists(iniPath))
        LoadCatalogue(iniPath);
    else
        ScanTargetFolder();
}

TfrmMain::~TfrmMain() = default;

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
    // Every place takes a digit or stays blank ("0" in Qt's mask letters),
    // the dots are fixed and a blank shows as " ": the text is always 15
    // characters long.
    IPAddress->setInputMask(QStringLiteral("000.000.000.000; "));
    IPAddress->setMaxLength(15);
    IPAddress->setAttribute(Qt::WA_InputMethodEnabled, false);

    Label3 = makeLabel(this, QStringLiteral("Select Modules to download signals"), {8, 352, 238, 16});
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);

    cbKRN3 = makeModuleBox(this, QStringLiteral("KRN3"), {16, 376, 57, 17});

    Bevel1 = new QFrame(this);
    Bevel1->setGeometry(8, 368, 241, 65);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    // Drawn about the boxes, never over them, and never in the way of a click.
    Bevel1->lower();
    Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);

    cbQMX53 = makeModuleBox(this, QStringLiteral("QMX53"), {16, 408, 57, 17});
    cbLPS3 = makeModuleBox(this, QStringLiteral("LPS3"), {16, 392, 57, 17});
    cbSBX3 = makeModuleBox(this, QStringLiteral("SBX3"), {88, 376, 65, 17});
    cbPRZ53 = makeModuleBox(this, QStringLiteral("PRZ53"), {88, 392, 65, 17});

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
    connect(IPAddress, &QLineEdit::textChanged, this, [this] {
        if (IPAddress->displayText() != lastAddressText)
            IPAddressChange();
    });
    IPAddress->installEventFilter(this);

    connect(btnCopy, &QPushButton::clicked, this, [this] { btnCopyClick(); });
    connect(btnQuit, &QPushButton::clicked, this, &TfrmMain::btnQuitClick);
    // toggled, not clicked: the handlers also run when code changes a box,
    // and only when its state really changes.
    connect(cbKRN3, &QCheckBox::toggled, this, &TfrmMain::cbKRN3Click);
    connect(cbLPS3, &QCheckBox::toggled, this, &TfrmMain::cbLPS3Click);
    connect(cbQMX53, &QCheckBox::toggled, this, &TfrmMain::cbQMX53Click);
    connect(cbPRZ53, &QCheckBox::toggled, this, &TfrmMain::cbPRZ53Click);
    connect(cbSBX3, &QCheckBox::toggled, this, &TfrmMain::cbSBX3Click);
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == IPAddress && event->type() == QEvent::FocusOut)
        IPAddressExit();
    return TUpgradeWindow::eventFilter(watched, event);
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

void TfrmMain::btnQuitClick()
{
    // During a run this stops the run, which closes the window once it has
    // unwound (the title-bar close does the same, in TUpgradeWindow).
    CloseMainWindow();
}

void TfrmMain::cbKRN3Click()
{
    SetModuleSelected(QStringLiteral("KRN3"), cbKRN3->isChecked());
}

void TfrmMain::cbLPS3Click()
{
    SetModuleSelected(QStringLiteral("LPS3"), cbLPS3->isChecked());
}

void TfrmMain::cbQMX53Click()
{
    SetModuleSelected(QStringLiteral("QMX53"), cbQMX53->isChecked());
}

void TfrmMain::cbPRZ53Click()
{
    SetModuleSelected(QStringLiteral("PRZ53"), cbPRZ53->isChecked());
}

void TfrmMain::cbSBX3Click()
{
    SetModuleSelected(QStringLiteral("SBX3"), cbSBX3->isChecked());
}

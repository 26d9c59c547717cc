// The window's controls, laid out as the form places them, in the order it
// creates them.
#include "app/Uvxupgrade.h"

#include "upgrade/common/AddressField.h"
#include "upgrade/common/ModuleCatalogue.h"

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

    CreateStatusGroup();

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

    cbKRN3 = makeModuleBox(this, upgrade::ModuleName::KRN3, {16, 376, 57, 17});

    Bevel1 = new QFrame(this);
    Bevel1->setGeometry(8, 368, 241, 65);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    // Drawn about the boxes, never over them, and never in the way of a click.
    Bevel1->lower();
    Bevel1->setAttribute(Qt::WA_TransparentForMouseEvents);

    cbQMX53 = makeModuleBox(this, upgrade::ModuleName::QMX53, {16, 408, 57, 17});
    cbLPS3 = makeModuleBox(this, upgrade::ModuleName::LPS3, {16, 392, 57, 17});
    cbSBX3 = makeModuleBox(this, upgrade::ModuleName::SBX3, {88, 376, 65, 17});
    cbPRZ53 = makeModuleBox(this, upgrade::ModuleName::PRZ53, {88, 392, 65, 17});

    NameControls();
    IPAddress->setFocus();
}

void TfrmMain::CreateStatusGroup()
{
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
}

// The controls' own names, so that the controls can be found by them.
void TfrmMain::NameControls()
{
    const std::pair<QWidget *, const char *> names[] = {
        {Label1, "Label1"}, {Label2, "Label2"}, {GroupBox1, "GroupBox1"}, {mmStatus, "mmStatus"},
        {ProgressBar, "ProgressBar"}, {btnCopy, "btnCopy"}, {btnQuit, "btnQuit"}, {IPAddress, "IPAddress"},
        {Label3, "Label3"}, {cbKRN3, "cbKRN3"}, {Bevel1, "Bevel1"}, {cbQMX53, "cbQMX53"}, {cbLPS3, "cbLPS3"},
        {cbSBX3, "cbSBX3"}, {cbPRZ53, "cbPRZ53"},
    };
    for (const auto &[control, name] : names)
        control->setObjectName(QLatin1String(name));
    setObjectName(QStringLiteral("frmMain"));
}

void TfrmMain::SetTabOrder()
{
    const QWidget *const chain[] = {IPAddress, mmStatus, btnCopy, btnQuit, cbKRN3, cbQMX53, cbLPS3, cbSBX3, cbPRZ53};
    for (size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(const_cast<QWidget *>(chain[i - 1]), const_cast<QWidget *>(chain[i]));
}

#pragma once

#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class TfrmMain;

// The window's controls, found by their names, as a test reaches them.
struct Controls
{
    explicit Controls(const QWidget &window);

    QLabel *Label1;
    QLabel *Label2;
    QPlainTextEdit *mmStatus;
    QProgressBar *ProgressBar;
    QPushButton *btnCopy;
    QPushButton *btnQuit;
    QLineEdit *IPAddress;
    QLabel *Label3;
    QCheckBox *cbKRN3;
    QCheckBox *cbQMX53;
    QCheckBox *cbLPS3;
    QCheckBox *cbSBX3;
    QCheckBox *cbPRZ53;
};

[[nodiscard]] inline Controls controls(const QWidget &window)
{
    return Controls(window);
}

// The memo's lines.
[[nodiscard]] QStringList memoLines(const QPlainTextEdit *memo);
// The memo with each run of "Copying... " lines sorted.
[[nodiscard]] QStringList memoWithCopyRunsSorted(const QPlainTextEdit *memo);

// Presses Copy with the mouse, as the operator does.
void pressCopy(TfrmMain &window);

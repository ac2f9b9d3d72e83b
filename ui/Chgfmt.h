#pragma once

#include <QDialog>

class QGroupBox;
class QPushButton;
class QRadioButton;

/// The delimiter dialog: chooses the delimiter variant.
class TFormChgFmt : public QDialog {
    Q_OBJECT
public:
    TFormChgFmt();

    QGroupBox* GroupBox1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QRadioButton* RBNormal;
    QRadioButton* RBSpecial1;
    QRadioButton* RBSpecial2;
};

/// Shows a new delimiter dialog selecting the mode in force; OK stores the mode
/// chosen in DelimiterMode, anything else leaves it.
void AskDelimiterMode();

// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Chgfmt.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

#include "dialogs/DialogFrame.h"

TFormChgFmt::TFormChgFmt(QWidget* owner, veltrane::DelimiterMode mode) : TModalDialog(owner), m_mode(mode)
{
    SetFixedDialogFrame(this, 379, 147);
    setWindowTitle(QStringLiteral("修改MARC显示格式"));

    GroupBox1 = new QGroupBox(QStringLiteral("MARC格式"), this);
    GroupBox1->setFont(ChineseDialogFont());
    GroupBox1->setGeometry(12, 8, 264, 129);
    BitBtn1 = MakeStockOkButton(this, QStringLiteral("OK"));
    BitBtn1->setGeometry(291, 13, 71, 24);
    BitBtn2 = MakeStockCancelButton(this, QStringLiteral("Cancel"));
    BitBtn2->setGeometry(292, 45, 71, 24);

    RBNormal = new QRadioButton(QStringLiteral("一般MARC格式(0x1E, 0x1F)"), GroupBox1);
    RBNormal->setGeometry(30, 32, 193, 17);
    RBSpecial1 = new QRadioButton(QStringLiteral("特殊MARC格式1('#', '$')"), GroupBox1);
    RBSpecial1->setGeometry(30, 65, 193, 17);
    RBSpecial2 = new QRadioButton(QStringLiteral("特殊MARC格式2(0x1E, '$')"), GroupBox1);
    RBSpecial2->setGeometry(30, 97, 193, 17);
    RBNormal->setChecked(true);

    setTabOrder(RBNormal, RBSpecial1);
    setTabOrder(RBSpecial1, RBSpecial2);
    setTabOrder(RBSpecial2, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
}

veltrane::DelimiterMode TFormChgFmt::selectedMode() const
{
    if (RBNormal->isChecked())
        return veltrane::dmNormal;
    if (RBSpecial1->isChecked())
        return veltrane::dmSpecial1;
    return veltrane::dmSpecial2;
}

void TFormChgFmt::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TFormChgFmt::FormShow()
{
    switch (m_mode) {
    case veltrane::dmNormal: RBNormal->setChecked(true); break;
    case veltrane::dmSpecial1: RBSpecial1->setChecked(true); break;
    case veltrane::dmSpecial2: RBSpecial2->setChecked(true); break;
    }
    // Inside the group box the focus goes to the selected radio button.
    for (QRadioButton* button : {RBNormal, RBSpecial1, RBSpecial2}) {
        if (button->isChecked())
            button->setFocus();
    }
}

void AskDelimiterMode(QWidget* owner, veltrane::DelimiterMode& delimiterMode)
{
    auto dialog = std::make_unique<TFormChgFmt>(owner, delimiterMode);
    CentreOnMainWindow(dialog.get(), owner);
    if (dialog->exec() == kResultOk)
        delimiterMode = dialog->selectedMode();
}

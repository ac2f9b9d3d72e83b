// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Goto.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/DialogFrame.h"

TFormGotoRecord::TFormGotoRecord(QWidget* owner) : TModalDialog(owner)
{
    SetFixedDialogFrame(this, 368, 100);
    setWindowTitle(QStringLiteral("到纪录"));

    EdtRecordNo = new QLineEdit(this);
    EdtRecordNo->setGeometry(24, 47, 225, 21);
    BBtnOK = MakeStockOkButton(this, QStringLiteral("确定"));
    BBtnOK->setGeometry(270, 18, 75, 25);
    BBtnCancel = MakeStockCancelButton(this, QStringLiteral("取消"));
    BBtnCancel->setGeometry(270, 50, 75, 25);
    Label1 = new QLabel(QStringLiteral("请输入纪录号："), this);
    Label1->setFont(ChineseDialogFont());
    Label1->setGeometry(24, 21, 84, 12);

    setTabOrder(EdtRecordNo, BBtnOK);
    setTabOrder(BBtnOK, BBtnCancel);
    EdtRecordNo->setFocus();

    CentreOnMainWindow(this, owner);
}

void TFormGotoRecord::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TFormGotoRecord::FormShow()
{
    EdtRecordNo->clear();
}

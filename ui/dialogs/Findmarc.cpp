// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Findmarc.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/DialogFrame.h"

TFormFind::TFormFind(QWidget* owner) : TModalDialog(owner)
{
    SetFixedDialogFrame(this, 383, 129);
    setWindowTitle(QStringLiteral("查找"));

    EditTextToFind = new QLineEdit(this);
    EditTextToFind->setFont(ChineseDialogFont());
    EditTextToFind->setGeometry(25, 43, 233, 20);
    CbxCase = new QCheckBox(QStringLiteral("区分大小写"), this);
    CbxCase->setFont(ChineseDialogFont());
    CbxCase->setGeometry(25, 72, 97, 23);
    Label1 = new QLabel(QStringLiteral("请输入查找内容："), this);
    Label1->setFont(ChineseDialogFont());
    Label1->setGeometry(25, 19, 96, 18);
    BtnOk = MakeStockOkButton(this, QStringLiteral("OK"));
    BtnOk->setGeometry(284, 32, 73, 24);
    BtnCancel = MakeStockCancelButton(this, QStringLiteral("Cancel"));
    BtnCancel->setGeometry(284, 64, 73, 24);

    setTabOrder(EditTextToFind, CbxCase);
    setTabOrder(CbxCase, BtnOk);
    setTabOrder(BtnOk, BtnCancel);
    EditTextToFind->setFocus();

    move(kScreenLeft, kScreenTop);
}


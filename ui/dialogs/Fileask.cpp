// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Fileask.h"

#include <QLabel>
#include <QPushButton>
#include <memory>

#include "dialogs/DialogFrame.h"
#include "common/UserPrompt.h"

using veltrane::OverwriteChoice;

namespace {

QPushButton* makeChoiceButton(const QString& text, QWidget* parent, int left)
{
    auto* button = new QPushButton(text, parent);
    button->setFont(ChineseDialogFont());
    button->setGeometry(left, 60, 71, 23);
    return button;
}

}  // namespace

TFormSaveAsk::TFormSaveAsk(QWidget* owner) : TModalDialog(owner)
{
    SetFixedDialogFrame(this, 294, 106);
    setWindowTitle(QStringLiteral("保存文件"));

    Label1 = new QLabel(QStringLiteral("文件已经存在！请选择下一步操作："), this);
    Label1->setFont(ChineseDialogFont());
    Label1->setGeometry(40, 24, 192, 12);
    QPalette navy = Label1->palette();
    navy.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    Label1->setPalette(navy);

    BtnAppend = makeChoiceButton(QStringLiteral("增加(&A)"), this, 114);
    BtnOverwrite = makeChoiceButton(QStringLiteral("覆盖(&O)"), this, 34);
    BtnCancel = makeChoiceButton(QStringLiteral("取消(&C)"), this, 194);
    connect(BtnOverwrite, &QPushButton::clicked, this, &TFormSaveAsk::BtnOverwriteClick);
    connect(BtnAppend, &QPushButton::clicked, this, &TFormSaveAsk::BtnAppendClick);
    connect(BtnCancel, &QPushButton::clicked, this, &TFormSaveAsk::BtnCancelClick);

    // Left to right the buttons read overwrite, append, cancel, but append comes
    // first in the tab order and so has the focus: Enter at once appends.
    setTabOrder(BtnAppend, BtnOverwrite);
    setTabOrder(BtnOverwrite, BtnCancel);
    BtnAppend->setFocus();

    CentreOnMainWindow(this, owner);
}

void TFormSaveAsk::BtnOverwriteClick()
{
    done(static_cast<int>(OverwriteChoice::Overwrite));
}

void TFormSaveAsk::BtnAppendClick()
{
    done(static_cast<int>(OverwriteChoice::Append));
}

void TFormSaveAsk::BtnCancelClick()
{
    done(static_cast<int>(OverwriteChoice::Cancel));
}

void TFormSaveAsk::reject()
{
    BtnCancelClick();
}

OverwriteChoice AskOverwrite(QWidget* owner)
{
    auto dialog = std::make_unique<TFormSaveAsk>(owner);
    const int result = dialog->exec();
    // Only a deliberate overwrite or append may touch the file.
    if (result == static_cast<int>(OverwriteChoice::Overwrite) || result == static_cast<int>(OverwriteChoice::Append))
        return static_cast<OverwriteChoice>(result);
    return OverwriteChoice::Cancel;
}

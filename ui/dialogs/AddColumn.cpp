// SPDX-License-Identifier: Apache-2.0
#include "dialogs/AddColumn.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TDlgAddColumn::TDlgAddColumn(QWidget* owner) : TModalDialog(owner)
{
    setWindowTitle(QStringLiteral("添加列"));
    setFont(ChineseDialogFont());
    auto* prompt = new QLabel(QStringLiteral("列的路径："), this);
    EditPath = new QLineEdit(this);
    EditPath->setObjectName(QStringLiteral("ColumnPath"));
    EditPath->setAccessibleName(QStringLiteral("列的路径"));
    prompt->setBuddy(EditPath);
    auto* examples = new QLabel(QStringLiteral("例如：690a 或 245$a（第一个），245$a*（全部，以“ ; ”相连），\n"
                                               "008/35-37、LDR/06（位置，从 0 数起），100$a/9-12"),
                                this);
    LblError = new QLabel(this);
    LblError->setObjectName(QStringLiteral("ColumnPathError"));
    LblError->setWordWrap(true);
    LblError->setStyleSheet(QStringLiteral("color: #b00020"));
    BtnOk = MakeStockOkButton(this, QStringLiteral("确定"));
    BtnCancel = MakeStockCancelButton(this, QStringLiteral("取消"));

    auto* row = new QHBoxLayout;
    row->addWidget(prompt);
    row->addWidget(EditPath, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    buttons->addWidget(BtnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(examples);
    layout->addWidget(LblError);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    EditPath->setFocus();
    CentreOnMainWindow(this, owner);
}

void TDlgAddColumn::done(int result)
{
    if (result == kResultOk) {
        const QByteArray typed = EditPath->text().toUtf8();
        veltrane::ColumnPathParse parsed = veltrane::ParseColumnPath({typed.constData(), static_cast<std::size_t>(typed.size())});
        if (!parsed.path) {
            LblError->setText(QString::fromStdString(parsed.message));
            EditPath->setFocus();
            return;
        }
        m_path = std::move(parsed.path);
    }
    TModalDialog::done(result);
}

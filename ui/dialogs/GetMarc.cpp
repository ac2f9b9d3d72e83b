// SPDX-License-Identifier: Apache-2.0
#include "dialogs/GetMarc.h"

#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "dialogs/DialogFrame.h"

namespace {

QLabel* makeChineseLabel(const QString& text, QWidget* parent, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setFont(ChineseDialogFont());
    label->setGeometry(left, top, width, height);
    return label;
}

QPushButton* makePlainButton(const QString& text, QWidget* parent, int left, int top)
{
    auto* button = new QPushButton(text, parent);
    button->setFont(ChineseDialogFont());
    button->setGeometry(left, top, 75, 25);
    return button;
}

}  // namespace

TDlgGetMarc::TDlgGetMarc(QWidget* owner) : TModalDialog(owner)
{
    SetFixedDialogFrame(this, 384, 179);
    setWindowTitle(QStringLiteral("抽取MARC记录"));

    OKBtn = makePlainButton(QStringLiteral("确定"), this, 300, 8);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(kResultOk); });
    CancelBtn = makePlainButton(QStringLiteral("取消"), this, 300, 38);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(kResultCancel); });

    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 281, 161);
    Bevel1->lower();

    EditFrom = new QLineEdit(this);
    EditFrom->setGeometry(24, 40, 217, 20);
    EditTo = new QLineEdit(this);
    EditTo->setGeometry(24, 83, 217, 20);
    EditFileName = new QLineEdit(this);
    EditFileName->setGeometry(24, 127, 217, 20);
    Label1 = makeChineseLabel(QStringLiteral("开始记录号："), this, 24, 23, 72, 18);
    Label2 = makeChineseLabel(QStringLiteral("结束记录号："), this, 24, 67, 72, 18);
    Label3 = makeChineseLabel(QStringLiteral("接收文件："), this, 24, 111, 60, 18);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setGeometry(255, 128, 23, 22);
    connect(SpeedButton1, &QToolButton::clicked, this, &TDlgGetMarc::SpeedButton1Click);

    setTabOrder(EditFrom, EditTo);
    setTabOrder(EditTo, EditFileName);
    setTabOrder(EditFileName, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    EditFrom->setFocus();

    CentreOnMainWindow(this, owner);
}

const QStringList& TDlgGetMarc::saveFilters()
{
    static const QStringList filters{QStringLiteral("MARC文件(*.mrc)"), QStringLiteral("ISO文件(*.iso)")};
    return filters;
}

void TDlgGetMarc::SpeedButton1Click()
{
    QFileDialog saveDialog(this);
    saveDialog.setAcceptMode(QFileDialog::AcceptSave);
    saveDialog.setFileMode(QFileDialog::AnyFile);
    saveDialog.setNameFilters(saveFilters());
    saveDialog.selectNameFilter(saveFilters().front());
    saveDialog.setDefaultSuffix(QStringLiteral("mrc"));
    // The overwrite question comes later, from the extraction itself.
    saveDialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (const QString chosen = ExecSaveDialog(saveDialog); !chosen.isEmpty())
        EditFileName->setText(chosen);
}

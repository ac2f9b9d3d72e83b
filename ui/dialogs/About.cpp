// SPDX-License-Identifier: Apache-2.0
#include "dialogs/About.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "dialogs/DialogFrame.h"

// The application's icon; the packaged one when none is set (for instance in
// tests). Outside any namespace, as Q_INIT_RESOURCE requires.
static QPixmap programIconPixmap()
{
    const QIcon applicationIcon = QApplication::windowIcon();
    if (!applicationIcon.isNull())
        return applicationIcon.pixmap(32, 32);
    Q_INIT_RESOURCE(dialogs);
    return QPixmap(QStringLiteral(":/dialogs/veltrane-32.png"));
}

namespace {

QLabel* makeLabel(const QString& text, QWidget* panel, int left, int top)
{
    auto* label = new QLabel(text, panel);
    label->move(left, top);
    label->adjustSize();
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : TModalDialog(parent)
{
    SetFixedDialogFrame(this, 298, 213);
    setWindowTitle(QStringLiteral("关于"));

    // A raised inner bevel inside a lowered outer one.
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 161);
    auto* innerBevel = new QFrame(Panel1);
    innerBevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    innerBevel->setGeometry(Panel1->rect().adjusted(1, 1, -1, -1));

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setGeometry(8, 8, 65, 57);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(programIconPixmap());
    ProductName = makeLabel(QStringLiteral("Product Name: Veltrane"), Panel1, 88, 16);
    Version = makeLabel(QStringLiteral("Version 2.0.1"), Panel1, 88, 40);
    Copyright = makeLabel(QStringLiteral("Copyright"), Panel1, 8, 80);
    Label1 = makeLabel(QStringLiteral("Veltrane developers"), Panel1, 88, 80);
    Comments = new QLabel(QStringLiteral("2003.12"), Panel1);
    Comments->setWordWrap(true);
    Comments->setGeometry(90, 104, 183, 40);
    Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(111, 180, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(kResultOk); });

    setTabOrder(Panel1, OKButton);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    CentreOnMainWindow(this, parentWidget());
    QDialog::showEvent(event);
    OKButton->setFocus();
}

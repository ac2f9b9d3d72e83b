// SPDX-License-Identifier: Apache-2.0
// The main window's status bar: the file and record panels, the running
// work's progress with its cancel button, and the record's information panel.
#include "windows/Main.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>

namespace {

constexpr int kStatusPanel0Width = 300;

}  // namespace

void TFormMain::createStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new StatusPanel(bar);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
    }
    m_panels[0]->setFixedWidth(kStatusPanel0Width);
    m_panels[0]->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bar->addWidget(m_panels[0], 0);
    bar->addWidget(m_panels[1], 1);

    // After the two panels: the running operation's progress, with its cancel button.
    m_workPanel = new QWidget(bar);
    m_workPanel->setObjectName(QStringLiteral("WorkPanel"));
    auto* layout = new QHBoxLayout(m_workPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    m_workLabel = new QLabel(m_workPanel);
    m_workLabel->setObjectName(QStringLiteral("WorkLabel"));
    m_workLabel->setMaximumWidth(240);
    m_workBar = new QProgressBar(m_workPanel);
    m_workBar->setObjectName(QStringLiteral("WorkBar"));
    m_workBar->setRange(0, 1000);
    m_workBar->setFixedWidth(140);
    auto* cancelButton = new QToolButton(m_workPanel);
    cancelButton->setObjectName(QStringLiteral("WorkCancel"));
    cancelButton->setText(QStringLiteral("取消"));
    cancelButton->setToolTip(QStringLiteral("取消 (Esc)"));
    connect(cancelButton, &QToolButton::clicked, this, &TFormMain::cancelActiveWork);
    layout->addWidget(m_workLabel);
    layout->addWidget(m_workBar);
    layout->addWidget(cancelButton);
    bar->addPermanentWidget(m_workPanel);
    m_workPanel->hide();

    // At the right end: the record's character set and problems, sized to its
    // text, so that panel 1 reaches up to it.
    m_infoPanel = new StatusPanel(bar);
    m_infoPanel->setObjectName(QStringLiteral("InfoPanel"));
    m_infoPanel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bar->addPermanentWidget(m_infoPanel);
    m_infoPanel->hide();
}

// SPDX-License-Identifier: Apache-2.0
#include "windows/StatusPanel.h"

#include <QPainter>

StatusPanel::StatusPanel(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void StatusPanel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);  // what screen readers, and the end-to-end test, read
    update();
    setToolTip(displayedText() == m_text ? QString() : m_text);
}

QString StatusPanel::displayedText() const
{
    return fontMetrics().elidedText(m_text, Qt::ElideMiddle, contentsRect().width() - 4);
}

QSize StatusPanel::sizeHint() const
{
    return {50, fontMetrics().height() + 2 * frameWidth()};
}

QSize StatusPanel::minimumSizeHint() const
{
    return sizeHint();
}

void StatusPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawText(contentsRect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

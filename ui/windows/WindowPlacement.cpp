// SPDX-License-Identifier: Apache-2.0
#include "windows/WindowPlacement.h"

#include <QFontMetrics>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

#include "display/LineWrap.h"
#include "windows/RecordText.h"

namespace {

// A GBK line keeps a double-byte character whole and may so hold one byte more.
constexpr int kWidestLineColumns = veltrane::kLineColumns + 1;
constexpr QSize kSmallestWindow(200, 150);

// The window opened last before window, if any.
std::optional<QPoint> previousPlace(QMdiArea* area, QMdiSubWindow* window)
{
    const QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (*it != window && (*it)->isVisible() && !(*it)->isMinimized() && !(*it)->isMaximized())
            return (*it)->pos();
    }
    return std::nullopt;
}

}  // namespace

QPoint CascadedPlace(const QRect& area, std::optional<QPoint> previous, QSize size, int step)
{
    if (!previous)
        return area.topLeft();
    const QRect next(*previous + QPoint(step, step), size);
    return area.contains(next) ? next.topLeft() : area.topLeft();
}

QSize NewWindowSize(QSize areaSize, QSize fitting)
{
    const QSize threeQuarters(areaSize.width() * 3 / 4, areaSize.height() * 3 / 4);
    const QSize wanted = threeQuarters.expandedTo(fitting).boundedTo(areaSize);
    return wanted.expandedTo(kSmallestWindow);
}

void PlaceNewDocumentWindow(QMdiArea* area, QMdiSubWindow* window, QPlainTextEdit* memo)
{
    QFont font = memo->font();
    font.setPixelSize(kDefaultRecordTextPixelSize);
    const int line = QFontMetrics(font).horizontalAdvance(QString(kWidestLineColumns, QLatin1Char('0')));
    // The text's margins and frame, its vertical scroll bar, and the window's frame and title bar.
    const int text = line + 2 * static_cast<int>(memo->document()->documentMargin()) + 2 * memo->frameWidth() +
                     memo->verticalScrollBar()->sizeHint().width();
    QStyleOptionTitleBar option;
    option.initFrom(window);
    const int titleHeight = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, window);
    const int frame = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    const QSize fitting(text + 2 * frame, titleHeight + frame);
    const QRect free = area->viewport()->rect();
    const QSize size = NewWindowSize(free.size(), fitting);
    window->resize(size);
    window->move(CascadedPlace(free, previousPlace(area, window), size, titleHeight));
}

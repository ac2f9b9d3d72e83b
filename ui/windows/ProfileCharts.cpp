// SPDX-License-Identifier: Apache-2.0
#include "windows/ProfileCharts.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr int kMargin = 8;
constexpr int kGap = 6;  // between a label and its bar, a bar and its value
// One colour for every bar: the charts show counts, not categories.
const QColor kBarColour(0x3b, 0x78, 0xb8);

QString count(std::int64_t n)
{
    return QString::number(n);
}

// Floor division, so that spans stay aligned for years before year 0 too.
int floorDiv(int a, int b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

void paintTitle(QPainter& painter, const QWidget& widget, const QString& title)
{
    QFont bold = widget.font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRect(kMargin, kMargin, widget.width() - 2 * kMargin, QFontMetrics(bold).height()),
                     Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.setFont(widget.font());
}

}  // namespace

BarChart::BarChart(const QString& title, QWidget* parent) : QWidget(parent), m_title(title)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(title);
}

void BarChart::setBars(QList<Bar> bars)
{
    m_bars = std::move(bars);
    updateGeometry();
    update();
}

int BarChart::rowHeight() const
{
    return fontMetrics().height() + 6;
}

int BarChart::barsTop() const
{
    return kMargin + fontMetrics().height() + kGap;
}

QRect BarChart::rowRect(int index) const
{
    return {0, barsTop() + index * rowHeight(), width(), rowHeight()};
}

int BarChart::barAt(QPoint point) const
{
    if (point.y() < barsTop())
        return -1;
    const int index = (point.y() - barsTop()) / rowHeight();
    return index < m_bars.size() ? index : -1;
}

QSize BarChart::sizeHint() const
{
    return {360, barsTop() + static_cast<int>(std::max<qsizetype>(m_bars.size(), 1)) * rowHeight() + kMargin};
}

QSize BarChart::minimumSizeHint() const
{
    return {200, sizeHint().height()};
}

void BarChart::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());
    paintTitle(painter, *this, m_title);
    if (m_bars.isEmpty()) {
        painter.drawText(QRect(kMargin, barsTop(), width() - 2 * kMargin, rowHeight()), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("（无）"));
        return;
    }
    const QFontMetrics metrics = fontMetrics();
    int labelWidth = 0;
    std::int64_t largest = 1;
    for (const Bar& bar : m_bars) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(bar.label));
        largest = std::max(largest, bar.value);
    }
    const int valueWidth = metrics.horizontalAdvance(count(largest));
    const int barLeft = kMargin + labelWidth + kGap;
    const int barSpace = std::max(1, width() - barLeft - kGap - valueWidth - kMargin);
    // Only the rows in view: a file may have thousands of tags.
    const int firstRow = std::max(0, (event->rect().top() - barsTop()) / rowHeight());
    const int endRow = std::min(static_cast<int>(m_bars.size()), (event->rect().bottom() - barsTop()) / rowHeight() + 1);
    for (int i = firstRow; i < endRow; ++i) {
        const Bar& bar = m_bars[i];
        const QRect row = rowRect(i);
        painter.drawText(QRect(kMargin, row.top(), labelWidth, row.height()), Qt::AlignRight | Qt::AlignVCenter, bar.label);
        const int length = bar.value > 0
                               ? std::max(1, static_cast<int>(static_cast<double>(bar.value) / static_cast<double>(largest) * barSpace))
                               : 0;
        painter.fillRect(QRect(barLeft, row.top() + 2, length, row.height() - 4), kBarColour);
        painter.drawText(QRect(barLeft + length + kGap, row.top(), valueWidth + kMargin, row.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, count(bar.value));
    }
}

bool BarChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (const int index = barAt(help->pos()); index >= 0)
            QToolTip::showText(help->globalPos(), QStringLiteral("%1：%2").arg(m_bars[index].label, count(m_bars[index].value)), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void BarChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (const int index = barAt(event->position().toPoint()); index >= 0 && event->button() == Qt::LeftButton)
        emit barActivated(index);
}

YearHistogram::YearHistogram(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("出版年分布"));
}

QList<YearHistogram::Bin> YearHistogram::MakeBins(const std::map<int, std::int64_t>& years)
{
    QList<Bin> bins;
    if (years.empty())
        return bins;
    const int first = years.begin()->first;
    const int last = years.rbegin()->first;
    static constexpr std::array kSpans = {1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 2500, 5000, 10000};
    int span = kSpans.back();
    for (int candidate : kSpans) {
        if (floorDiv(last, candidate) - floorDiv(first, candidate) + 1 <= kMaxBins) {
            span = candidate;
            break;
        }
    }
    for (int start = floorDiv(first, span) * span; start <= last; start += span)
        bins.append({start, start + span - 1, 0});
    for (const auto& [year, records] : years)
        bins[floorDiv(year, span) - floorDiv(first, span)].records += records;
    return bins;
}

void YearHistogram::setYears(const std::map<int, std::int64_t>& years)
{
    m_bins = MakeBins(years);
    update();
}

QSize YearHistogram::sizeHint() const
{
    return {480, 260};
}

QSize YearHistogram::minimumSizeHint() const
{
    return {240, 160};
}

QRect YearHistogram::plotRect() const
{
    const QFontMetrics metrics = fontMetrics();
    std::int64_t largest = 0;
    for (const Bin& bin : m_bins)
        largest = std::max(largest, bin.records);
    const int left = kMargin + metrics.horizontalAdvance(count(largest)) + kGap;
    const int top = kMargin + 2 * metrics.height();
    const int bottom = height() - kMargin - metrics.height() - kGap;
    return {QPoint(left, top), QPoint(width() - kMargin, std::max(top + 1, bottom))};
}

int YearHistogram::binAt(QPoint point) const
{
    const QRect plot = plotRect();
    if (m_bins.isEmpty() || point.x() < plot.left() || point.x() > plot.right())
        return -1;
    const auto index = static_cast<int>(static_cast<qint64>(point.x() - plot.left()) * m_bins.size() / std::max(1, plot.width()));
    return std::min(index, static_cast<int>(m_bins.size()) - 1);
}

void YearHistogram::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QColor text = palette().text().color();
    painter.setPen(text);
    const int span = m_bins.isEmpty() ? 1 : m_bins.first().last - m_bins.first().first + 1;
    paintTitle(painter, *this,
               span == 1 ? QStringLiteral("各出版年的纪录数") : QStringLiteral("各出版年的纪录数（每栏 %1 年）").arg(span));
    const QFontMetrics metrics = fontMetrics();
    if (m_bins.isEmpty()) {
        painter.drawText(QRect(kMargin, kMargin + metrics.height() + kGap, width() - 2 * kMargin, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("（没有纪录给出出版年）"));
        return;
    }
    std::int64_t largest = 1;
    for (const Bin& bin : m_bins)
        largest = std::max(largest, bin.records);
    const QRect plot = plotRect();
    // The axes, and the scale: 0 at the foot, the largest count at the top.
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    const QRect scale(kMargin, plot.top() - metrics.height() / 2, plot.left() - kMargin - kGap / 2, metrics.height());
    painter.drawText(scale, Qt::AlignRight | Qt::AlignVCenter, count(largest));
    painter.drawText(scale.translated(0, plot.height()), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));

    const auto bins = static_cast<int>(m_bins.size());
    const auto xOf = [&](int i) { return plot.left() + static_cast<int>(static_cast<qint64>(plot.width()) * i / bins); };
    // Labels under the bars, as many as fit side by side.
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00000")) + kGap;
    const int every = std::max(1, static_cast<int>(std::ceil(static_cast<double>(labelWidth * bins) / std::max(1, plot.width()))));
    for (int i = 0; i < bins; ++i) {
        const int x0 = xOf(i), x1 = xOf(i + 1);
        const int barHeight = m_bins[i].records > 0
                                  ? std::max(1, static_cast<int>(static_cast<double>(m_bins[i].records) / static_cast<double>(largest) * plot.height()))
                                  : 0;
        painter.fillRect(QRect(x0 + 1, plot.bottom() - barHeight, std::max(1, x1 - x0 - 1), barHeight), kBarColour);
        if (i % every == 0) {
            painter.setPen(text);
            painter.drawText(QRect(x0 - labelWidth / 2, plot.bottom() + kGap / 2, labelWidth, metrics.height()),
                             Qt::AlignHCenter | Qt::AlignTop, QString::number(m_bins[i].first));
        }
    }
}

bool YearHistogram::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (const int index = binAt(help->pos()); index >= 0) {
            const Bin& bin = m_bins[index];
            const QString years = bin.first == bin.last ? QString::number(bin.first)
                                                        : QStringLiteral("%1–%2").arg(bin.first).arg(bin.last);
            QToolTip::showText(help->globalPos(), QStringLiteral("%1：%2 条").arg(years, count(bin.records)), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

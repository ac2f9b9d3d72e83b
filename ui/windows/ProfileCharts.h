// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <map>

// The charts of the file profile window, drawn with QPainter: a bar chart of
// named counts (tags, character sets) and a histogram of years.

/// One horizontal bar per entry, top to bottom in the order given: the label
/// at the left, the bar scaled to the largest value, the value after it. A
/// double click on a row tells which entry it was.
class BarChart : public QWidget {
    Q_OBJECT
public:
    struct Bar {
        QString label;
        std::int64_t value = 0;
    };

    /// title is drawn above the bars.
    explicit BarChart(const QString& title, QWidget* parent = nullptr);

    void setBars(QList<Bar> bars);
    [[nodiscard]] const QList<Bar>& bars() const { return m_bars; }
    /// The entry drawn at point (widget coordinates), or -1.
    [[nodiscard]] int barAt(QPoint point) const;
    /// The rectangle of entry index's row.
    [[nodiscard]] QRect rowRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void barActivated(int index);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    [[nodiscard]] int rowHeight() const;
    [[nodiscard]] int barsTop() const;

    QString m_title;
    QList<Bar> m_bars;
};

/// The records per year of publication as vertical bars, one per span of
/// years: a year each when the years fit in kMaxBins, else the smallest round
/// span (2, 5, 10, 20, 25, 50, 100 … years) that makes them fit.
class YearHistogram : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxBins = 60;

    struct Bin {
        int first = 0, last = 0;  ///< the years it covers, inclusive
        std::int64_t records = 0;
    };

    explicit YearHistogram(QWidget* parent = nullptr);

    void setYears(const std::map<int, std::int64_t>& years);
    [[nodiscard]] const QList<Bin>& bins() const { return m_bins; }
    /// The bins of years, every span of the range in order, the empty ones included.
    [[nodiscard]] static QList<Bin> MakeBins(const std::map<int, std::int64_t>& years);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    /// The area the bars stand in.
    [[nodiscard]] QRect plotRect() const;
    [[nodiscard]] int binAt(QPoint point) const;

    QList<Bin> m_bins;
};

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QWidget>

#include "profile/FileProfile.h"

class BarChart;
class QTabWidget;
class QTableWidget;
class YearHistogram;

/// The window of 记录 → 文件概况: what a record file holds, as the command
/// line's profile reports it, one tab per section (概要, 字符集, 结构问题, 字段,
/// 子字段, 指示符, 头标, 008, 100 $a, 出版年), with a chart of the records per
/// tag, per character set and per year of publication. A window of its own
/// over the main window; it keeps the profile it was given, whatever becomes
/// of the file.
class ProfileWindow : public QWidget {
    Q_OBJECT
public:
    /// fileTitle names the file in the caption (as its document window does).
    ProfileWindow(const QString& fileTitle, const veltrane::FileProfile& profile, QWidget* parent);

    [[nodiscard]] QTabWidget* tabs() const { return m_tabs; }
    /// The tag table and the charts (the tables also go by their object names).
    [[nodiscard]] QTableWidget* tagTable() const { return m_tagTable; }
    [[nodiscard]] BarChart* tagChart() const { return m_tagChart; }
    [[nodiscard]] BarChart* charsetChart() const { return m_charsetChart; }
    [[nodiscard]] YearHistogram* yearChart() const { return m_yearChart; }

signals:
    /// A tag was double-clicked (or Enter pressed on it) in the tag table or
    /// on its bar: the tag's three characters. Not for a tag that could not be
    /// typed as a field tag (a byte that is not printable ASCII).
    void tagActivated(const QString& tag);

private:
    void addSummaryTab(const veltrane::FileProfile& profile);
    void addCharsetTab(const veltrane::FileProfile& profile);
    void addProblemTab(const veltrane::FileProfile& profile);
    void addTagTab(const veltrane::FileProfile& profile);
    void addSubfieldAndIndicatorTabs(const veltrane::FileProfile& profile);
    void addPositionTabs(const veltrane::FileProfile& profile);
    void addYearTab(const veltrane::FileProfile& profile);
    /// Tells tagActivated for the raw tag bytes when they make a field tag.
    void activateTag(const QString& rawTag);

    QTabWidget* m_tabs;
    QTableWidget* m_tagTable = nullptr;
    BarChart* m_tagChart = nullptr;
    BarChart* m_charsetChart = nullptr;
    YearHistogram* m_yearChart = nullptr;
};

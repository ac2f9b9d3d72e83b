// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QTableView>
#include <QWidget>

#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "charset/Charset.h"
#include "common/WorkMonitor.h"
#include "iso2709/RecordLayout.h"
#include "list/ColumnPath.h"
#include "rules/RuleCheck.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;
class RecordListModel;

/// The table of the record list: Home and End go to the first and last row
/// (not across columns), Ctrl+Home and Ctrl+End to the file's first and last
/// record, Ctrl+C copies the selected rows tab-separated, and typing jumps
/// ahead on the sorted column.
class RecordListView : public QTableView {
    Q_OBJECT
public:
    explicit RecordListView(QWidget* parent = nullptr);
    void keyboardSearch(const QString& search) override;

signals:
    /// Ctrl+Home (first) or Ctrl+End (last record of the file).
    void endRecordWanted(bool first);

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString m_typed;     ///< what was typed so far
    qint64 m_typedAt = 0;  ///< when, in ms since the epoch
};

/// The record list pane of a document window: a filter line with its column
/// chooser and the count, and the list, filled from the file in the
/// background with progress and a stop button.
class RecordListPane : public QWidget {
    Q_OBJECT
public:
    explicit RecordListPane(QWidget* parent = nullptr);
    /// Stops a fill that still runs and waits for it.
    ~RecordListPane() override;

    /// Reads the rows of every record of fileName (records, as the index
    /// counts them, are announced at once) in the background; 问题 counts the
    /// content findings of `rules` with the structural problems.
    void fill(const std::string& fileName, int records, veltrane::DelimiterMode mode, veltrane::CharsetSetting setting,
              veltrane::RuleSetting rules);
    /// Stops the fill; rows read so far stay, the others show their number only.
    void stopFill();

    /// Takes the columns kept for records of a format ("marc21" or
    /// "unimarc"): those of one's own and the place, width and visibility of
    /// each; they are kept again whenever they change. Before the first fill.
    void useColumnsOf(const QString& format);
    /// Adds a column of one's own after the others and reads the list again.
    void addColumn(const veltrane::ColumnPath& path);
    /// Removes a column: one of one's own goes (the list is read again),
    /// another is hidden. The last column shown stays.
    void removeColumn(int column);
    /// Every standard column shown in its place and width, none of one's own.
    void restoreDefaultColumns();
    [[nodiscard]] const std::vector<veltrane::ColumnPath>& ownColumns() const { return m_ownColumns; }
    /// 添加列…: asks for a path and adds its column.
    void askForColumn();
    [[nodiscard]] bool filling() const { return m_filling; }

    /// Selects the row of a record, or clears the selection when the filter
    /// hides it; says nothing through recordChosen.
    void selectRecord(int record);
    /// The selected records in list order, 1-based.
    [[nodiscard]] std::vector<int> selectedRecords() const;

    [[nodiscard]] RecordListModel* model() const { return m_model; }
    /// Bytes of the file between two progress reports (smaller in tests).
    static inline std::uint64_t reportInterval = veltrane::kWorkReportInterval;
    /// Tests only: runs on the fill's thread at every progress report.
    static inline std::function<void(const std::stop_token&)> onReportForTests;
    [[nodiscard]] RecordListView* view() const { return m_view; }

signals:
    /// The user chose a record in the list.
    void recordChosen(int record);
    /// A fill ended (done, stopped or failed).
    void fillEnded();
    /// 导出所选纪录… was chosen.
    void exportSelectionRequested();

private:
    /// Where each column stands, its width and whether it is hidden, in column order.
    struct ColumnPlace {
        int visual = 0;
        int width = 0;
        bool hidden = false;
    };
    void applyFilter();
    void updateCount();
    void endFill(bool failed);
    /// Reads the list again from the file last filled, keeping the columns' places.
    void refill();
    [[nodiscard]] std::vector<ColumnPlace> columnPlaces() const;
    /// Puts the columns back where they were; columns past the places given
    /// stay at the end in their default width.
    void placeColumns(const std::vector<ColumnPlace>& places);
    void keepColumns();
    void fillFilterColumns();
    void showHeaderMenu(const QPoint& at);
    void showRowMenu(const QPoint& at);

    RecordListModel* m_model;
    RecordListView* m_view;
    QLineEdit* m_filter;
    QComboBox* m_filterColumn;
    QLabel* m_count;
    QToolButton* m_stop;
    std::jthread m_fill;
    std::string m_fileName;
    int m_records = 0;
    veltrane::DelimiterMode m_mode = veltrane::dmNormal;
    veltrane::CharsetSetting m_setting = veltrane::CharsetSetting::Auto;
    veltrane::RuleSetting m_rules = veltrane::RuleSetting::None;
    std::vector<veltrane::ColumnPath> m_ownColumns;
    QString m_format;                       ///< whose columns are kept; empty: none are
    std::vector<ColumnPlace> m_placesToTake;  ///< the places kept, taken at the next fill
    QTimer* m_keepTimer;
    bool m_filling = false;
    bool m_stopped = false;
    int m_percent = 0;
    bool m_selecting = false;
};

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <optional>
#include <thread>

#include "list/RecordList.h"

/// The record list of one document window as a table: every record of the
/// file is a row from the start, its cells read from the engine's arena as
/// they are filled in (a row not read yet shows its number only). Sorts and
/// filters itself, so the view asks only for the rows it shows; a large list
/// is sorted and filtered on a thread of its own, the rows staying as they
/// were shown until the new order is ready.
class RecordListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordListModel(QObject* parent = nullptr);
    /// Stops a sort or filter that still runs and waits for it.
    ~RecordListModel() override;

    /// Forgets every row and announces `records` rows, none filled, with the
    /// columns of one's own headed as given after the others.
    void reset(int records, const QStringList& ownHeadings = {});
    /// Takes in the next rows read, in record order.
    void appendRows(const veltrane::RecordList& rows);
    /// The fill has ended: a sort or filter set meanwhile now covers every row.
    void fillEnded();

    /// Keeps only the rows holding text in a column (any when nothing).
    void setFilter(std::optional<veltrane::ListColumn> column, const QString& text);
    /// The sorted column as shown, or -1 for file order.
    [[nodiscard]] int sortColumn() const { return m_shown.sortColumn; }
    [[nodiscard]] Qt::SortOrder sortOrder() const { return m_shown.sortOrder; }
    /// A sort or filter asked for is still being worked out.
    [[nodiscard]] bool arranging() const { return m_arranging; }

    /// The record (1-based) a row shows.
    [[nodiscard]] int recordAt(int row) const;
    /// The row showing a record, or -1 when the filter hides it.
    [[nodiscard]] int rowOf(int record) const;
    /// Rows shown and records in all.
    [[nodiscard]] int shownRows() const { return rowCount(); }
    [[nodiscard]] int records() const { return m_records; }
    [[nodiscard]] int filledRows() const { return static_cast<int>(m_list.rows() + m_pending.rows()); }
    /// A row's cells, tab-separated, as copied.
    [[nodiscard]] QString rowText(int row) const;
    /// The first row from `from` on (wrapping) whose cell in `column` starts
    /// with text, ignoring case; -1 when none.
    [[nodiscard]] int findPrefix(int column, const QString& text, int from) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    /// Lists of more filled rows than this are sorted and filtered off the
    /// interface thread (fewer take well under a tenth of a second in place).
    static inline std::size_t arrangeInPlaceRows = 50'000;

signals:
    /// The rows shown changed in number (filter, fill).
    void countsChanged();
    /// A sort or filter asked for is now shown.
    void arranged();

private:
    /// How the rows are shown: sorted by a column or in file order, filtered or not.
    struct Arrangement {
        int sortColumn = -1;
        Qt::SortOrder sortOrder = Qt::AscendingOrder;
        std::optional<veltrane::ListColumn> filterColumn;
        QString filterText;
        [[nodiscard]] bool inFileOrder() const { return sortColumn < 0 && filterText.isEmpty(); }
    };
    /// The rows an arrangement shows and the row of each record.
    struct Order {
        veltrane::ListOrder rows;
        std::vector<std::int32_t> rowOf;
    };

    /// Works out the wanted arrangement, in place or on the arranging thread.
    void arrange();
    /// The order of an arrangement over the filled rows; rows not filled
    /// follow in file order. Reads m_list only.
    [[nodiscard]] Order orderOf(const Arrangement& arrangement, const std::stop_token& stop = {}) const;
    /// Shows an arrangement worked out, keeping the selection on its records.
    void show(const Arrangement& arrangement, Order order);
    /// Stops the arranging thread and waits for it; what it worked out is dropped.
    void stopArranging();
    /// Rows taken in while the list was read by the arranging thread join it.
    void takePending();
    [[nodiscard]] QString cellText(int record0, int column) const;

    QStringList m_ownHeadings;
    veltrane::RecordList m_list;
    veltrane::RecordList m_pending;  ///< rows read while the arranging thread reads m_list
    int m_records = 0;
    Arrangement m_shown;
    Arrangement m_wanted;
    Order m_order;                  ///< rows shown, when not in file order
    bool m_filledInOrder = true;    ///< m_order covers every filled row
    bool m_fillEnded = false;
    bool m_arranging = false;
    std::jthread m_arranger;
    unsigned m_arrangement = 0;     ///< counts the arrangements asked for
};

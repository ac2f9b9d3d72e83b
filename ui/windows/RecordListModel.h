// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <optional>

#include "list/RecordList.h"

/// The record list of one document window as a table: every record of the
/// file is a row from the start, its cells read from the engine's arena as
/// they are filled in (a row not read yet shows its number only). Sorts and
/// filters itself, so the view asks only for the rows it shows.
class RecordListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordListModel(QObject* parent = nullptr);

    /// Forgets every row and announces `records` rows, none filled.
    void reset(int records);
    /// Takes in the next rows read, in record order.
    void appendRows(const veltrane::RecordList& rows);
    /// The fill has ended: a sort or filter set meanwhile now covers every row.
    void fillEnded();

    /// Keeps only the rows holding text in a column (any when nothing).
    void setFilter(std::optional<veltrane::ListColumn> column, const QString& text);
    /// The sorted column, or -1 for file order.
    [[nodiscard]] int sortColumn() const { return m_sortColumn; }
    [[nodiscard]] Qt::SortOrder sortOrder() const { return m_sortOrder; }

    /// The record (1-based) a row shows.
    [[nodiscard]] int recordAt(int row) const;
    /// The row showing a record, or -1 when the filter hides it.
    [[nodiscard]] int rowOf(int record) const;
    /// Rows shown and records in all.
    [[nodiscard]] int shownRows() const { return rowCount(); }
    [[nodiscard]] int records() const { return m_records; }
    [[nodiscard]] int filledRows() const { return static_cast<int>(m_list.rows()); }
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

signals:
    /// The rows shown changed in number (filter, fill).
    void countsChanged();

private:
    /// Sorts and filters the filled rows again; rows not filled follow in file order.
    void rebuildOrder();
    [[nodiscard]] bool inFileOrder() const { return m_sortColumn < 0 && m_filterText.isEmpty(); }
    [[nodiscard]] QString cellText(int record0, int column) const;

    veltrane::RecordList m_list;
    int m_records = 0;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    std::optional<veltrane::ListColumn> m_filterColumn;
    QString m_filterText;
    veltrane::ListOrder m_order;          ///< rows shown, when not in file order
    std::vector<std::int32_t> m_rowOf;    ///< record - 1 -> row shown or -1, with m_order
    bool m_filledInOrder = true;          ///< m_order covers every filled row
};

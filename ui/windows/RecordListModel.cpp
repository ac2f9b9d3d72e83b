// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordListModel.h"

#include <algorithm>

using veltrane::ListColumn;

RecordListModel::RecordListModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordListModel::reset(int records)
{
    beginResetModel();
    m_list.clear();
    m_records = std::max(records, 0);
    m_order.clear();
    m_rowOf.clear();
    if (!inFileOrder())
        rebuildOrder();
    endResetModel();
    emit countsChanged();
}

void RecordListModel::appendRows(const veltrane::RecordList& rows)
{
    const int first = filledRows();
    m_list.append(rows);
    const int last = filledRows() - 1;
    if (last >= m_records) {
        // More records than the index told (the file grew): show them too.
        beginInsertRows({}, m_records, last);
        m_records = last + 1;
        if (!inFileOrder())
            for (int r = static_cast<int>(m_rowOf.size()); r <= last; ++r) {
                m_rowOf.push_back(static_cast<std::int32_t>(m_order.size()));
                m_order.push_back(static_cast<std::uint32_t>(r));
            }
        endInsertRows();
        emit countsChanged();
    }
    if (inFileOrder()) {
        emit dataChanged(index(first, 1), index(last, columnCount() - 1));
        return;
    }
    m_filledInOrder = false;
    // Sorted or filtered: the new rows stand where file order puts them until the fill ends.
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void RecordListModel::fillEnded()
{
    m_list.shrinkToFit();
    if (m_filledInOrder)
        return;
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> records;
    for (const QModelIndex& i : before)
        records.push_back(recordAt(i.row()));
    rebuildOrder();
    QModelIndexList after;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const int row = rowOf(records[k]);
        after.append(row < 0 ? QModelIndex() : index(row, before[static_cast<int>(k)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
    emit countsChanged();
}

void RecordListModel::rebuildOrder()
{
    m_filledInOrder = true;
    m_order.clear();
    m_rowOf.clear();
    if (inFileOrder())
        return;
    veltrane::ListOrder order = veltrane::FileOrder(m_list.rows());
    if (m_sortColumn >= 0)
        order = veltrane::SortListRows(m_list, std::move(order), static_cast<ListColumn>(m_sortColumn),
                                       m_sortOrder == Qt::DescendingOrder);
    if (!m_filterText.isEmpty()) {
        const QByteArray text = m_filterText.toUtf8();
        order = veltrane::FilterListRows(m_list, order, m_filterColumn, {text.constData(), static_cast<std::size_t>(text.size())});
    } else {
        // Rows not filled yet follow in file order.
        for (std::size_t r = m_list.rows(); r < static_cast<std::size_t>(m_records); ++r)
            order.push_back(static_cast<std::uint32_t>(r));
    }
    m_order = std::move(order);
    m_rowOf.assign(static_cast<std::size_t>(std::max<std::size_t>(m_records, m_list.rows())), -1);
    for (std::size_t row = 0; row < m_order.size(); ++row)
        m_rowOf[m_order[row]] = static_cast<std::int32_t>(row);
}

void RecordListModel::setFilter(std::optional<ListColumn> column, const QString& text)
{
    if (column == m_filterColumn && text == m_filterText)
        return;
    beginResetModel();
    m_filterColumn = column;
    m_filterText = text;
    rebuildOrder();
    endResetModel();
    emit countsChanged();
}

void RecordListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount())
        return;
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> records;
    for (const QModelIndex& i : before)
        records.push_back(recordAt(i.row()));
    m_sortColumn = column;
    m_sortOrder = order;
    rebuildOrder();
    QModelIndexList after;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const int row = rowOf(records[k]);
        after.append(row < 0 ? QModelIndex() : index(row, before[static_cast<int>(k)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

int RecordListModel::recordAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return inFileOrder() ? row + 1 : static_cast<int>(m_order[static_cast<std::size_t>(row)]) + 1;
}

int RecordListModel::rowOf(int record) const
{
    if (record < 1 || record > m_records)
        return -1;
    if (inFileOrder())
        return record - 1;
    const auto at = static_cast<std::size_t>(record - 1);
    return at < m_rowOf.size() ? m_rowOf[at] : -1;
}

int RecordListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return inFileOrder() ? m_records : static_cast<int>(m_order.size());
}

int RecordListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : veltrane::kListColumnCount;
}

QString RecordListModel::cellText(int record0, int column) const
{
    if (column == static_cast<int>(ListColumn::Number))
        return QString::number(record0 + 1);
    const std::string_view text = m_list.cell(static_cast<std::size_t>(record0), static_cast<ListColumn>(column));
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return cellText(recordAt(index.row()) - 1, index.column());
    if (role == Qt::TextAlignmentRole) {
        const auto column = static_cast<ListColumn>(index.column());
        const bool number = column == ListColumn::Number || column == ListColumn::Year || column == ListColumn::Problems;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::InitialSortOrderRole)
        return Qt::AscendingOrder;  // a column clicked first sorts up, whichever sorted before
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    const std::string_view heading = veltrane::ListColumnHeading(static_cast<ListColumn>(section));
    return QString::fromUtf8(heading.data(), static_cast<qsizetype>(heading.size()));
}

QString RecordListModel::rowText(int row) const
{
    QStringList cells;
    const int record0 = recordAt(row) - 1;
    for (int column = 0; column < columnCount(); ++column)
        cells.append(cellText(record0, column));
    return cells.join(QLatin1Char('\t'));
}

int RecordListModel::findPrefix(int column, const QString& text, int from) const
{
    const int rows = rowCount();
    if (rows == 0 || text.isEmpty() || column < 0 || column >= columnCount())
        return -1;
    for (int k = 0; k < rows; ++k) {
        const int row = (std::max(from, 0) + k) % rows;
        if (cellText(recordAt(row) - 1, column).startsWith(text, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

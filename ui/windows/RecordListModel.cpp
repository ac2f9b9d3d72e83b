// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordListModel.h"

#include <algorithm>

using veltrane::ListColumn;

RecordListModel::RecordListModel(QObject* parent) : QAbstractTableModel(parent) {}

RecordListModel::~RecordListModel() { stopArranging(); }

void RecordListModel::stopArranging()
{
    ++m_arrangement;  // what it posted, if anything, is out of date
    m_arranger.request_stop();
    if (m_arranger.joinable())
        m_arranger.join();
    m_arranging = false;
}

void RecordListModel::reset(int records, const QStringList& ownHeadings)
{
    stopArranging();
    beginResetModel();
    m_ownHeadings = ownHeadings;
    if (m_wanted.sortColumn >= columnCount())
        m_wanted.sortColumn = -1;
    if (m_wanted.filterColumn && static_cast<int>(*m_wanted.filterColumn) >= columnCount())
        m_wanted.filterColumn.reset();
    m_list.clear();
    m_pending.clear();
    m_records = std::max(records, 0);
    m_fillEnded = false;
    m_shown = m_wanted;
    m_order = m_shown.inFileOrder() ? Order{} : orderOf(m_shown);
    m_filledInOrder = true;
    endResetModel();
    emit countsChanged();
}

void RecordListModel::appendRows(const veltrane::RecordList& rows)
{
    if (m_arranging) {
        // The arranging thread reads the list: these rows wait, showing their numbers.
        m_pending.append(rows);
        return;
    }
    const int first = static_cast<int>(m_list.rows());
    m_list.append(rows);
    const int last = static_cast<int>(m_list.rows()) - 1;
    if (last < first)
        return;
    if (last >= m_records) {
        // More records than the index told (the file grew): show them too.
        beginInsertRows({}, m_shown.inFileOrder() ? m_records : static_cast<int>(m_order.rows.size()),
                        m_shown.inFileOrder() ? last : static_cast<int>(m_order.rows.size()) + last - m_records);
        if (!m_shown.inFileOrder())
            for (int r = m_records; r <= last; ++r) {
                m_order.rowOf.push_back(static_cast<std::int32_t>(m_order.rows.size()));
                m_order.rows.push_back(static_cast<std::uint32_t>(r));
            }
        m_records = last + 1;
        endInsertRows();
        emit countsChanged();
    }
    if (m_shown.inFileOrder()) {
        emit dataChanged(index(first, 1), index(last, columnCount() - 1));
        return;
    }
    m_filledInOrder = false;
    // Sorted or filtered: the new rows stand where file order puts them until the fill ends.
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void RecordListModel::takePending()
{
    if (m_pending.rows() == 0)
        return;
    veltrane::RecordList pending;
    std::swap(pending, m_pending);
    appendRows(pending);
}

void RecordListModel::fillEnded()
{
    m_fillEnded = true;
    if (m_arranging)
        return;  // the arrangement on its way is made again when it comes, over every row
    m_list.shrinkToFit();
    if (!m_filledInOrder)
        arrange();
}

RecordListModel::Order RecordListModel::orderOf(const Arrangement& arrangement, const std::stop_token& stop) const
{
    Order result;
    if (arrangement.inFileOrder())
        return result;
    veltrane::ListOrder order = veltrane::FileOrder(m_list.rows());
    if (arrangement.sortColumn >= 0)
        order = veltrane::SortListRows(m_list, std::move(order), static_cast<ListColumn>(arrangement.sortColumn),
                                       arrangement.sortOrder == Qt::DescendingOrder, stop);
    if (!arrangement.filterText.isEmpty()) {
        const QByteArray text = arrangement.filterText.toUtf8();
        order = veltrane::FilterListRows(m_list, order, arrangement.filterColumn,
                                         {text.constData(), static_cast<std::size_t>(text.size())}, stop);
    } else {
        // Rows not filled yet follow in file order.
        for (std::size_t r = m_list.rows(); r < static_cast<std::size_t>(m_records); ++r)
            order.push_back(static_cast<std::uint32_t>(r));
    }
    result.rows = std::move(order);
    result.rowOf.assign(std::max<std::size_t>(static_cast<std::size_t>(m_records), m_list.rows()), -1);
    for (std::size_t row = 0; row < result.rows.size(); ++row)
        result.rowOf[result.rows[row]] = static_cast<std::int32_t>(row);
    return result;
}

void RecordListModel::arrange()
{
    stopArranging();
    takePending();
    const bool covered = m_fillEnded || static_cast<int>(m_list.rows()) >= m_records;
    if (m_list.rows() <= arrangeInPlaceRows || m_wanted.inFileOrder()) {
        show(m_wanted, orderOf(m_wanted));
        m_filledInOrder = covered || m_wanted.inFileOrder();
        return;
    }
    m_arranging = true;
    emit countsChanged();
    const unsigned arrangement = m_arrangement;
    const Arrangement wanted = m_wanted;
    RecordListModel* const model = this;  // joined before it goes
    m_arranger = std::jthread([model, wanted, arrangement, covered](std::stop_token stop) {
        auto order = std::make_shared<Order>(model->orderOf(wanted, stop));
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(model, [model, wanted, arrangement, covered, order] {
            if (arrangement != model->m_arrangement)
                return;  // a newer arrangement was asked for meanwhile
            model->m_arranger.join();
            model->m_arranging = false;
            model->show(wanted, std::move(*order));
            model->m_filledInOrder = covered && model->m_pending.rows() == 0;
            model->takePending();
            if (model->m_fillEnded) {
                model->m_list.shrinkToFit();
                if (!model->m_filledInOrder)
                    model->arrange();
            }
        }, Qt::QueuedConnection);
    });
}

void RecordListModel::show(const Arrangement& arrangement, Order order)
{
    const bool sameRows = arrangement.filterText == m_shown.filterText && arrangement.filterColumn == m_shown.filterColumn;
    if (!sameRows) {
        beginResetModel();
        m_shown = arrangement;
        m_order = std::move(order);
        endResetModel();
        emit countsChanged();
        emit arranged();
        return;
    }
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<int> records;
    for (const QModelIndex& i : before)
        records.push_back(recordAt(i.row()));
    m_shown = arrangement;
    m_order = std::move(order);
    QModelIndexList after;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const int row = rowOf(records[k]);
        after.append(row < 0 ? QModelIndex() : index(row, before[static_cast<int>(k)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
    emit countsChanged();
    emit arranged();
}

void RecordListModel::setFilter(std::optional<ListColumn> column, const QString& text)
{
    if (column == m_wanted.filterColumn && text == m_wanted.filterText)
        return;
    m_wanted.filterColumn = column;
    m_wanted.filterText = text;
    arrange();
}

void RecordListModel::sort(int column, Qt::SortOrder order)
{
    if (column >= columnCount())
        return;
    m_wanted.sortColumn = std::max(column, -1);  // -1: file order
    m_wanted.sortOrder = order;
    arrange();
}

int RecordListModel::recordAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return m_shown.inFileOrder() ? row + 1 : static_cast<int>(m_order.rows[static_cast<std::size_t>(row)]) + 1;
}

int RecordListModel::rowOf(int record) const
{
    if (record < 1 || record > m_records)
        return -1;
    if (m_shown.inFileOrder())
        return record - 1;
    const auto at = static_cast<std::size_t>(record - 1);
    return at < m_order.rowOf.size() ? m_order.rowOf[at] : -1;
}

int RecordListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_shown.inFileOrder() ? m_records : static_cast<int>(m_order.rows.size());
}

int RecordListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : veltrane::kListColumnCount + static_cast<int>(m_ownHeadings.size());
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
    if (section >= veltrane::kListColumnCount)
        return m_ownHeadings.value(section - veltrane::kListColumnCount);
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

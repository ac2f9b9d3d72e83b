// SPDX-License-Identifier: Apache-2.0
#include "windows/OnlineResultsModel.h"

#include <QBrush>
#include <QFont>

#include <utility>

namespace {

// The record list's column of each of ours but the server's.
constexpr veltrane::ListColumn kListColumns[] = {
    veltrane::ListColumn::Title, veltrane::ListColumn::Author, veltrane::ListColumn::Publisher,
    veltrane::ListColumn::Year,  veltrane::ListColumn::Isbn,
};

}  // namespace

void OnlineResultsModel::reset(const QStringList& serverNames)
{
    beginResetModel();
    m_servers.clear();
    m_records.clear();
    for (const QString& name : serverNames)
        m_servers.push_back({name});
    endResetModel();
}

void OnlineResultsModel::setHits(int server, std::uint64_t hits)
{
    ServerRow& row = m_servers.at(static_cast<std::size_t>(server));
    row.searched = true;
    row.hits = hits;
    statusChanged(server);
}

void OnlineResultsModel::addRecord(int server, std::string iso2709, const veltrane::ListRow& row)
{
    RecordRow added{server, std::move(iso2709), {}};
    for (int c = 0; c < Server; ++c)
        added.cells[c] = QString::fromStdString(row.cells[static_cast<std::size_t>(kListColumns[c])]);
    const int at = rowCount();
    beginInsertRows({}, at, at);
    m_records.push_back(std::move(added));
    endInsertRows();
    ++m_servers.at(static_cast<std::size_t>(server)).fetched;
    statusChanged(server);
}

void OnlineResultsModel::endServer(int server, bool failed, const QString& failure)
{
    ServerRow& row = m_servers.at(static_cast<std::size_t>(server));
    row.state = failed ? ServerRow::State::Failed : ServerRow::State::Done;
    row.failure = failure;
    statusChanged(server);
}

void OnlineResultsModel::stopUnfinished()
{
    for (int server = 0; server < serverCount(); ++server) {
        if (m_servers[static_cast<std::size_t>(server)].state == ServerRow::State::Working) {
            m_servers[static_cast<std::size_t>(server)].state = ServerRow::State::Stopped;
            statusChanged(server);
        }
    }
}

bool OnlineResultsModel::finished() const
{
    for (const ServerRow& row : m_servers)
        if (row.state == ServerRow::State::Working)
            return false;
    return true;
}

const std::string* OnlineResultsModel::record(int row) const
{
    const int at = row - serverCount();
    return at >= 0 && at < recordCount() ? &m_records[static_cast<std::size_t>(at)].iso2709 : nullptr;
}

QString OnlineResultsModel::statusText(int server) const
{
    const ServerRow& row = m_servers.at(static_cast<std::size_t>(server));
    const QString fetched = QStringLiteral("命中 %1 条，已取 %2 条").arg(row.hits).arg(row.fetched);
    switch (row.state) {
    case ServerRow::State::Working:
        return row.searched ? QStringLiteral("正在取记录：") + fetched : QStringLiteral("正在检索…");
    case ServerRow::State::Done:
        return fetched;
    case ServerRow::State::Failed:
        // A failure during the presents keeps the records taken before it.
        return row.fetched > 0 ? QStringLiteral("出错（%1）：%2").arg(fetched, row.failure)
                               : QStringLiteral("出错：%1").arg(row.failure);
    case ServerRow::State::Stopped:
        return row.searched ? QStringLiteral("已停止：") + fetched : QStringLiteral("已停止");
    }
    return {};
}

void OnlineResultsModel::statusChanged(int server)
{
    emit dataChanged(index(server, 0), index(server, ColumnCount - 1));
}

int OnlineResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : serverCount() + recordCount();
}

int OnlineResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant OnlineResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int column = index.column();
    if (isStatusRow(index.row())) {
        const ServerRow& row = m_servers[static_cast<std::size_t>(index.row())];
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
            if (column == Server)
                return row.name;
            return column == Title ? statusText(index.row()) : QVariant();
        }
        if (role == Qt::FontRole) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        if (role == Qt::ForegroundRole && row.state == ServerRow::State::Failed)
            return QBrush(QColor(0xb0, 0, 0));
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const RecordRow& row = m_records[static_cast<std::size_t>(index.row() - serverCount())];
    return column == Server ? m_servers[static_cast<std::size_t>(row.server)].name : row.cells[column];
}

QVariant OnlineResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kHeadings[] = {"题名", "责任者", "出版者", "年代", "ISBN", "服务器"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kHeadings[section]) : QVariant();
}

Qt::ItemFlags OnlineResultsModel::flags(const QModelIndex& index) const
{
    // A status row is read, never taken.
    if (isStatusRow(index.row()))
        return Qt::ItemIsEnabled;
    return QAbstractTableModel::flags(index);
}

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

#include "list/RecordList.h"

/// The hit list of 联机检索: one status row per server searched (still
/// working, its hits, its failure, or stopped), then the records in the
/// order they arrive, each with the cells the record list shows (title,
/// author, publisher, year, ISBN) and the server's name.
class OnlineResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Title, Author, Publisher, Year, Isbn, Server, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    /// Starts a new search of these servers: every one still working, no records.
    void reset(const QStringList& serverNames);
    /// A server's search is done: its hit count.
    void setHits(int server, std::uint64_t hits);
    /// A record of a server, with its row of the record list (cells decoded to UTF-8).
    void addRecord(int server, std::string iso2709, const veltrane::ListRow& row);
    /// A server is done, or failed with `failure`.
    void endServer(int server, bool failed, const QString& failure);
    /// The servers still working were stopped.
    void stopUnfinished();

    [[nodiscard]] int serverCount() const { return static_cast<int>(m_servers.size()); }
    [[nodiscard]] int recordCount() const { return static_cast<int>(m_records.size()); }
    [[nodiscard]] bool isStatusRow(int row) const { return row >= 0 && row < serverCount(); }
    /// The record of a row (nullptr for a status row or no row).
    [[nodiscard]] const std::string* record(int row) const;
    /// What a server's status row says.
    [[nodiscard]] QString statusText(int server) const;
    /// Whether every server is done, failed or stopped.
    [[nodiscard]] bool finished() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct ServerRow {
        enum class State { Working, Done, Failed, Stopped };
        QString name;
        State state = State::Working;
        bool searched = false;  ///< the hit count is known
        std::uint64_t hits = 0;
        int fetched = 0;
        QString failure;
    };
    struct RecordRow {
        int server = 0;
        std::string iso2709;
        QString cells[Server];
    };
    void statusChanged(int server);

    std::vector<ServerRow> m_servers;
    std::vector<RecordRow> m_records;
};

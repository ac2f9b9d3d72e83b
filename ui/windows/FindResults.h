// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "dialogs/FindAll.h"

class QLabel;
class QProgressBar;
class QTableView;
class QToolButton;
class TFormMarc;

/// The rows of the hit list: 文件, 纪录号, 题名, 字段. 文件 shows the file's
/// name, with its whole path as the tooltip and in copied rows. Rows belong to
/// windows: once a window is gone its rows stay, greyed, and lead nowhere.
class FindResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FileColumn, RecordColumn, TitleColumn, TagColumn, ColumnCount };

    explicit FindResultsModel(QObject* parent = nullptr);

    /// Empties the list; hits will refer to windows by their place in this list.
    void reset(const QList<TFormMarc*>& windows);
    /// Appends hits as rows, in one insertion.
    void append(std::vector<FindAllHit> hits);

    /// The window of row, or nullptr when it has been closed.
    [[nodiscard]] TFormMarc* windowOf(int row) const;
    [[nodiscard]] std::int64_t recordOf(int row) const { return m_rows[static_cast<std::size_t>(row)].record; }
    /// The windows of the search and their files as the rows show them.
    [[nodiscard]] int windowCount() const { return static_cast<int>(m_windows.size()); }
    [[nodiscard]] const QString& windowFile(int i) const { return m_windows[static_cast<std::size_t>(i)].file; }
    /// Rows as tab-separated lines, one a row, each ending with a line end.
    [[nodiscard]] QString text(QList<int> rows) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Window {
        QPointer<TFormMarc> window;
        QString file;
        bool closed = false;
    };
    [[nodiscard]] QString cell(const FindAllHit& hit, int column) const;

    std::vector<Window> m_windows;
    std::vector<FindAllHit> m_rows;
    QList<QMetaObject::Connection> m_connections;
};

/// The dock of the hit list (查找结果): the count, a note on how the search
/// ended, progress and cancel while it runs, and the rows. A new search
/// replaces the list.
class FindResultsDock : public QDockWidget {
    Q_OBJECT
public:
    explicit FindResultsDock(QWidget* mainWindow);
    ~FindResultsDock() override;

    /// Searches the files of windows (one target each, in that order) into a
    /// fresh list and shows the dock; a search still running is cancelled first.
    void search(const QList<TFormMarc*>& windows, std::vector<FindAllTarget> targets);
    [[nodiscard]] bool searching() const;
    /// Asks the search to stop (Esc in the dock, the cancel button).
    void cancelSearch();
    /// Stops the search and waits for it: before a window or the program closes.
    void cancelSearchAndWait();

    /// Shows row's record in its window, which becomes the active one, with the
    /// text sought selected; nothing for a row whose window was closed.
    void activateRow(int row);
    /// Copies the selected rows as tab-separated text.
    void copySelection() const;

    [[nodiscard]] FindResultsModel* model() const { return m_model; }
    [[nodiscard]] QTableView* view() const { return m_view; }
    [[nodiscard]] QLabel* countLabel() const { return m_count; }
    [[nodiscard]] QLabel* noteLabel() const { return m_note; }

    /// Rows the list keeps at most.
    static inline std::size_t maxRows = 100'000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void takeHits();
    void showProgress();
    void searchEnded();
    void watchWindows(bool watch);

    FindResultsModel* m_model;
    QTableView* m_view;
    QLabel* m_count;
    QLabel* m_note;
    QProgressBar* m_progress;
    QToolButton* m_cancel;
    std::unique_ptr<FindAllSearch> m_search;
    QList<QPointer<TFormMarc>> m_windows;
    QString m_soughtText;
    bool m_soughtCaseSensitive = false;
    QString m_soughtTag;
};

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QMdiSubWindow>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/ServerSettings.h"

class BackgroundWork;
class OnlineResultsModel;
struct OnlineSearchFeed;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class QMdiArea;
class RecordTextEdit;
class TFormMarc;
struct DocumentSharedState;

namespace veltrane {
class TextCodec;
}

/// What 联机检索 takes from the main window.
struct OnlineSearchHost {
    QMdiArea* area = nullptr;
    /// The open record files (never a target), the scratch file.
    DocumentSharedState* shared = nullptr;
    int textPixelSize = 0;  ///< of the record text
    /// Opens a record file in a document window as the main window does, but
    /// for the recent files; nullptr when the window closed itself.
    std::function<TFormMarc*(const QString& path)> openDocument;
    /// Ctrl+wheel over the record text: every record text zooms steps steps.
    std::function<void(int steps)> zoom;
};

/// 文件 → 联机检索: searches library servers over Z39.50 and SRU and takes
/// their records. The servers of the settings file (and the read-only
/// presets) with check boxes; one line per kind of query, the lines filled
/// in combined with AND; the hits filling a list as they arrive, with a
/// status row per server; the record selected shown below the list as a
/// document window shows it; the records selected opened in a window of
/// their own, saved or appended to a file. The search runs in the
/// background: 停止, or Esc in the main window, stops it, and closing the
/// window stops it and waits. One such window in the main window's area.
class OnlineSearchWindow : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit OnlineSearchWindow(OnlineSearchHost host);
    ~OnlineSearchWindow() override;

    /// The query lines, in the order of veltrane::QueryKind (ISBN, ISSN, 题名,
    /// 责任者, 主题, 任意词).
    [[nodiscard]] QLineEdit* queryLine(veltrane::QueryKind kind) const;
    [[nodiscard]] QListWidget* serverList() const { return m_serverList; }
    [[nodiscard]] QTableView* resultView() const { return m_resultView; }
    [[nodiscard]] OnlineResultsModel* results() const { return m_results; }
    [[nodiscard]] RecordTextEdit* recordText() const { return m_recordText; }
    /// What the window last said of an action (saved, appended, refused).
    [[nodiscard]] QLabel* messageLabel() const { return m_messageLabel; }
    /// The search running, or nullptr.
    [[nodiscard]] BackgroundWork* work() const { return m_work.get(); }
    /// The servers listed, checked or not: the settings file's, then the presets.
    [[nodiscard]] const std::vector<veltrane::NamedServer>& servers() const { return m_servers; }

    /// 检索: searches the servers checked with the lines filled in; told
    /// through the prompt when there is no server or no term.
    void search();
    /// 停止: asks the search to stop; the servers still working say so.
    void stop();
    /// Stops the search and waits for it to end.
    void stopAndWait();

    /// The records of the selected rows, in the list's order.
    [[nodiscard]] std::vector<std::string> selectedRecords() const;
    /// 在新窗口中打开: the selected records in a document window on a
    /// temporary file, removed when that window closes.
    void openSelected();
    /// 保存到文件… / 追加到文件… once a file is chosen: writes the selected
    /// records to target through the target-file transaction. Saving asks
    /// about an existing file (overwrite, append, or leave it); appending
    /// adds to it, or makes it. Never into a record file open in a window.
    /// Whether the records were written.
    bool saveSelectedTo(const QString& target, bool append);

    /// Reads the servers from the settings file again (after a change).
    void reloadServers();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildServerPane(QWidget* pane);
    void buildQueryPane(QWidget* pane);
    void addServer();
    void editServer();
    void removeServer();
    void showCurrentRecord();
    void chooseFileAndSave(bool append);
    /// Takes what the search has told since the last call into the list.
    void takeResults();
    void searchEnded();
    void updateActions();

    OnlineSearchHost m_host;
    std::vector<veltrane::NamedServer> m_servers;
    QListWidget* m_serverList = nullptr;
    QPushButton* m_editButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    std::array<QLineEdit*, veltrane::kQueryKindCount> m_queryLines{};
    QPushButton* m_searchButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QList<QPushButton*> m_recordButtons;
    OnlineResultsModel* m_results;
    QTableView* m_resultView = nullptr;
    RecordTextEdit* m_recordText = nullptr;
    QLabel* m_recordInfo = nullptr;
    QLabel* m_messageLabel = nullptr;
    std::unique_ptr<veltrane::TextCodec> m_codec;
    std::shared_ptr<OnlineSearchFeed> m_feed;
    std::unique_ptr<BackgroundWork> m_work;
};

/// Shows the 联机检索 window of host's area, made on first use, in front.
OnlineSearchWindow* ShowOnlineSearch(const OnlineSearchHost& host);

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QStringList>

#include "state/SharedState.h"
#include "windows/StatusPanel.h"

class FindResultsDock;
class QAction;
class QLabel;
class QProgressBar;
class QToolButton;
class QMdiArea;
class QMenu;
class QToolBar;
class RecentFiles;
class TAboutBox;
class TFormMarc;

/// The main window: the multiple-document frame with menus, tool bar and status bar.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    QMdiArea* mdiArea() const { return m_mdiArea; }
    /// What the windows share: the delimiter variant, the scratch file and the
    /// record files open, the files waiting to open, the last search.
    [[nodiscard]] DocumentSharedState& shared() { return m_shared; }
    /// The About dialog that 帮助 → 关于 shows (none: the command does nothing).
    void setAboutBox(TAboutBox* aboutBox) { m_aboutBox = aboutBox; }

    /// The record files to open, in order, when the window is first shown.
    void setCommandLine(const QStringList& paths) { m_commandLine = paths; }

    /// Panel 0 shows the active document's file, panel 1 its record number.
    [[nodiscard]] StatusPanel* statusPanel(int index) const { return m_panels[index]; }
    /// info goes to the information panel at the right end (the record's
    /// character set and problems; empty without an active document).
    void setStatusText(const QString& file, const QString& record, const QString& info = {});
    /// The information panel after the two panels and the work panel.
    [[nodiscard]] StatusPanel* infoPanel() const { return m_infoPanel; }

    /// The active child window when it is a document window, else nullptr.
    [[nodiscard]] TFormMarc* activeDocument() const;
    /// The document windows, bottom-most first.
    [[nodiscard]] QList<TFormMarc*> documents() const;

    /// Opens path in a new document window (as the Open command does once a
    /// name is chosen). Files are opened one after another: while one is
    /// still being indexed, the next waits.
    void openPath(const QString& path);
    /// Opens path in a new document window at once and returns it; the window
    /// may still be indexing in the background, or have closed itself already
    /// after telling why (check isOpen() and isOpening()). Kept in FormMarc.
    TFormMarc* openDocument(const QString& path);
    /// The document still being indexed in the background, or nullptr.
    [[nodiscard]] TFormMarc* openingDocument() const { return m_shared.openQueue.opening; }

    /// Shows the active document's running operation in the status bar and
    /// enables the commands as the operations allow: a window's record
    /// commands wait for its operation, the delimiter dialog for every one.
    void updateWorkState();
    /// The progress bar of the active document's operation (hidden when none).
    [[nodiscard]] QWidget* workPanel() const { return m_workPanel; }
    /// Cancels the active document's operation (Esc, or the panel's button),
    /// or the search of 联机检索 when that window is the active one.
    void cancelActiveWork();

    /// The submenu of recent files (文件 → 最近的文件).
    [[nodiscard]] RecentFiles* recentFiles() const { return m_recentFiles; }

    /// The hit list of 在所有窗口中查找 (a dock, hidden until the first search).
    [[nodiscard]] FindResultsDock* findResults() const { return m_findResults; }

    /// The font size of every document window's record text, in pixels.
    [[nodiscard]] int recordTextPixelSize() const { return m_recordTextPixelSize; }
    void setRecordTextPixelSize(int pixelSize);
    /// Zooms every record text steps steps in (positive) or out (negative).
    void zoomRecordText(int steps);

    // Event handlers, each reachable through the action of the same name.
    void MOpenClick();
    void MCloseClick();
    void MExitClick();
    void MPrevClick();
    void MNextClick();
    void NGotoClick();
    void MFindClick();
    void MFindNextClick();
    void MTotalClick();
    void MGetClick();
    void MDeliClick();
    void N13Click();
    void N14Click();
    void N15Click();
    void MHelpClick();
    /// 帮助 → 使用说明 (F1): the user guide's window, in front.
    void MGuideClick();
    void FormShow();
    void MFirstClick();
    void MLastClick();
    void MZoomInClick();
    void MZoomOutClick();
    void MZoomResetClick();
    void MRecordListToggled(bool shown);
    void MFindAllClick();
    void MExportClick();
    /// 文件 → 联机检索: the window that searches library servers, in front.
    void MOnlineSearchClick();
    void MCheckRecordClick();
    void MProfileClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void restoreSettings();
    void rebuildWindowMenu();
    /// 字符集 and 规则: the per-window settings.
    void createSettingMenus(QMenu* view);
    /// Checks the active document's character set in 查看 → 字符集.
    /// Checks the items of the active window's settings.
    void syncSettingMenus();
    void openNextPath();
    /// Told by a document whose background opening has ended (or was cancelled).
    void documentOpened(TFormMarc* document);
    void tile(Qt::Orientation orientation);
    QAction* createAction(const char* name, const QString& caption, int image, void (TFormMain::*handler)(),
                       const QString& hint = {});

    QMdiArea* m_mdiArea;
    QToolBar* m_toolBar = nullptr;
    QMenu* m_windowMenu = nullptr;
    QList<QAction*> m_windowListActions;
    StatusPanel* m_panels[2] = {};
    QWidget* m_workPanel = nullptr;
    StatusPanel* m_infoPanel = nullptr;
    QMenu* m_charsetMenu = nullptr;
    QMenu* m_rulesMenu = nullptr;
    QLabel* m_workLabel = nullptr;
    QProgressBar* m_workBar = nullptr;
    DocumentSharedState m_shared;
    TAboutBox* m_aboutBox = nullptr;
    QStringList m_commandLine;
    bool m_shown = false;
    RecentFiles* m_recentFiles = nullptr;
    FindResultsDock* m_findResults = nullptr;
    int m_recordTextPixelSize;
};

/// Places n windows in an area as a multiple-document frame tiles them:
/// rows = floor(sqrt(n)) and columns = floor(n / rows) when tiling vertically
/// (exchanged when tiling horizontally); the windows fill the columns left to
/// right, each column top to bottom, and the last column takes all remaining
/// windows. Returns one rectangle per window, in that order; none when n is 0.
[[nodiscard]] QList<QRect> TileRects(const QRect& area, int n, Qt::Orientation orientation);

/// Opens path in a new document window of mainForm, as openDocument does.
/// Returns 0.
int OpenMarcFile(TFormMain* mainForm, const QString& path);

/// The first main window made (the one the program shows); closing it ends the
/// program. Written, never read.
extern TFormMain* FormMain;
/// The one About dialog, created at start-up. Written, never read: the main
/// window is handed it.
extern TAboutBox* AboutBox;

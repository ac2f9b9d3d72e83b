// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QString>

class QMenu;
class QWidget;

/// The submenu of the files opened last, newest first, kept in the settings so
/// that it outlives the run. Choosing an entry asks for the file to be opened
/// (openRequested; the main window opens it as Open does); an entry whose file
/// is gone is dropped from the list and the user told so.
class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kLimit = 10;

    /// Makes the submenu, to be placed in a menu of mainWindow.
    explicit RecentFiles(QWidget* mainWindow);

    [[nodiscard]] QMenu* menu() const { return m_menu; }
    /// Puts path at the top of the list.
    void add(const QString& path);

signals:
    void openRequested(const QString& path);

private:
    void rebuild();
    void choose(const QString& path);

    QMenu* m_menu;
};

/// Shown when a recent file no longer exists; followed by its path.
inline constexpr const char* kRecentFileMissingMessage = "文件不存在：";

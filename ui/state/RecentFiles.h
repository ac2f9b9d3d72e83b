#pragma once

#include <QObject>
#include <QString>

class QMenu;
class TFormMain;

/// The submenu of the files opened last, newest first, kept in the settings so
/// that it outlives the run. Choosing an entry opens the file as Open does; an
/// entry whose file is gone is dropped from the list and the user told so.
class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kLimit = 10;

    /// Makes the submenu, to be placed in a menu of mainForm.
    explicit RecentFiles(TFormMain* mainForm);

    [[nodiscard]] QMenu* menu() const { return m_menu; }
    /// Puts path at the top of the list.
    void add(const QString& path);

private:
    void rebuild();
    void choose(const QString& path);

    TFormMain* m_mainForm;
    QMenu* m_menu;
};

/// Shown when a recent file no longer exists; followed by its path.
inline constexpr const char* kRecentFileMissingMessage = "文件不存在：";

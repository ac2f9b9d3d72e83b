#pragma once

#include <QMainWindow>

class QMdiArea;

/// The main window: the multiple-document frame with menus, tool bar and status bar.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);

    QMdiArea* mdiArea() const { return m_mdiArea; }

private:
    QMdiArea* m_mdiArea;
};

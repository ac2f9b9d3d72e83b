#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

/// The About dialog; one instance for the whole run.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Label1;
    QLabel* Comments;
    QPushButton* OKButton;

public slots:
    /// Esc and the close box: result 2, as for every dialog.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
};

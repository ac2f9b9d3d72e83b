#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

/// The About dialog; one instance for the whole run.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Label1;
    QLabel* Comments;
    QPushButton* OKButton;
};

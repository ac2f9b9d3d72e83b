// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "dialogs/DialogFrame.h"

class QFrame;
class QLabel;
class QPushButton;

/// The About dialog; one instance for the whole run.
class TAboutBox : public TModalDialog {
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

protected:
    void showEvent(QShowEvent* event) override;
};

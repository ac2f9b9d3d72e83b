// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "dialogs/DialogFrame.h"

class QLabel;
class QLineEdit;
class QPushButton;

/// The go-to dialog: asks for a record number as text, any text accepted; the
/// caller converts it. The field is emptied whenever the dialog is shown.
class TFormGotoRecord : public TModalDialog {
    Q_OBJECT
public:
    explicit TFormGotoRecord(QWidget* owner);

    QLineEdit* EdtRecordNo;
    QPushButton* BBtnOK;
    QPushButton* BBtnCancel;
    QLabel* Label1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
};

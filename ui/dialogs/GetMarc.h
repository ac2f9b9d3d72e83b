// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "dialogs/DialogFrame.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

/// The extract dialog: asks for a range of record numbers and a target file.
/// The caller fills the three fields before exec() and reads them after.
class TDlgGetMarc : public TModalDialog {
    Q_OBJECT
public:
    explicit TDlgGetMarc(QWidget* owner);

    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QFrame* Bevel1;
    QLineEdit* EditFrom;
    QLineEdit* EditTo;
    QLineEdit* EditFileName;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QToolButton* SpeedButton1;

    /// Filters of the browse dialog, the first selected when it opens.
    static const QStringList& saveFilters();

public slots:
    /// Browses for the target file; a chosen file's full path replaces the
    /// text of EditFileName, cancelling leaves it.
    void SpeedButton1Click();
};

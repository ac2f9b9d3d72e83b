// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "dialogs/DialogFrame.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

/// The find dialog: asks for a search text and whether letter case counts.
/// Starts empty and clear every time; the caller reads the fields after exec().
class TFormFind : public TModalDialog {
    Q_OBJECT
public:
    explicit TFormFind(QWidget* owner);

    QLineEdit* EditTextToFind;
    QCheckBox* CbxCase;
    QLabel* Label1;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;

    /// Where the dialog stands on the screen (its frame's top-left corner).
    static constexpr int kScreenLeft = 345;
    static constexpr int kScreenTop = 248;

};

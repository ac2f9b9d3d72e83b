// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>

#include "dialogs/DialogFrame.h"
#include "list/ColumnPath.h"

class QLabel;
class QLineEdit;
class QPushButton;

/// 添加列…: asks for the path of a column of one's own (`245$a`, `008/35-37`);
/// OK with a path that cannot be read keeps the dialog open with the reason
/// beside it and the text as typed.
class TDlgAddColumn : public TModalDialog {
    Q_OBJECT
public:
    explicit TDlgAddColumn(QWidget* owner);

    QLineEdit* EditPath;
    QLabel* LblError;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;

    /// The path read when OK was accepted.
    [[nodiscard]] const std::optional<veltrane::ColumnPath>& path() const { return m_path; }
    void done(int result) override;

private:
    std::optional<veltrane::ColumnPath> m_path;
};

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QStringList>

#include <string_view>
#include <vector>

#include "dialogs/DialogFrame.h"
#include "check/RecordCheck.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

/// 记录 → 检查纪录: the structural problems of the record on display, one a
/// line, or that there are none.
class TDlgCheckRecord : public TModalDialog {
    Q_OBJECT
public:
    TDlgCheckRecord(QWidget* owner, int record, const std::vector<veltrane::CheckProblem>& problems);

    QLabel* LabelRecord;
    QPlainTextEdit* MemoProblems;
    QPushButton* BtnClose;
};

/// Shown when the record has no structural problem.
inline constexpr const char* kNoStructuralProblemsText = "没有发现结构问题。";

/// The dialog's lines: the code, what it means, and the details the check gives.
[[nodiscard]] QStringList CheckProblemLines(const std::vector<veltrane::CheckProblem>& problems);
/// What a structural problem's code means, in Chinese; empty for a code it
/// does not know.
[[nodiscard]] QString CheckProblemMeaning(std::string_view code);

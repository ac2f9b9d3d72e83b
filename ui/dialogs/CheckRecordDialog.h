// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QStringList>

#include <functional>
#include <string_view>
#include <vector>

#include "dialogs/DialogFrame.h"
#include "check/RecordCheck.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

/// 记录 → 检查纪录: the structural problems of the record on display, one a
/// line, or that there are none; then, when the record has any, its content
/// findings under the window's rules, a row each (a double click on one asks
/// `choose` to show its place).
class TDlgCheckRecord : public TModalDialog {
    Q_OBJECT
public:
    TDlgCheckRecord(QWidget* owner, int record, const std::vector<veltrane::CheckProblem>& problems,
                    const std::vector<veltrane::CheckProblem>& findings = {}, const QString& rules = {},
                    std::function<void(const veltrane::CheckProblem&)> choose = {});

    QLabel* LabelRecord;
    QPlainTextEdit* MemoProblems;
    QLabel* LabelFindings = nullptr;     ///< only with findings
    QTreeWidget* ListFindings = nullptr; ///< only with findings: 严重性, 位置, 说明, 详情
    QPushButton* BtnClose;
};

/// Shown when the record has no structural problem.
inline constexpr const char* kNoStructuralProblemsText = "没有发现结构问题。";

/// The dialog's lines: the code, what it means, and the details the check gives.
[[nodiscard]] QStringList CheckProblemLines(const std::vector<veltrane::CheckProblem>& problems);
/// What a structural problem's code means, in Chinese; empty for a code it
/// does not know.
[[nodiscard]] QString CheckProblemMeaning(std::string_view code);

/// Where a content finding stands, as the dialog tells it: "245", "200（第2个）$a",
/// "008/35", "100 第一指示符", "头标/06".
[[nodiscard]] QString RuleFindingPlace(const veltrane::CheckProblem& finding);
/// 错误 or 警告.
[[nodiscard]] QString SeverityCaption(veltrane::Severity severity);

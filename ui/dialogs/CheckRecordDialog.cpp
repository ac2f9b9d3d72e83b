// SPDX-License-Identifier: Apache-2.0
#include "dialogs/CheckRecordDialog.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string_view>

#include "rules/RuleCodeMeanings.h"


namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// The codes are stable English words (the command line prints them); the
// cataloguer reading the dialog gets what they mean in Chinese as well.
QString CheckProblemMeaning(std::string_view code)
{
    struct Meaning {
        std::string_view code;
        const char* text;
    };
    static constexpr Meaning kMeanings[] = {
        {"length-digits", "纪录长度不是五位数字"},
        {"length-short", "纪录长度小于25，其后的纪录无法读出"},
        {"truncated", "纪录超出了文件末尾"},
        {"length-mismatch", "纪录长度与纪录结束符的位置不符"},
        {"base-address", "数据起始地址在纪录之外，或不紧接在目次区之后"},
        {"directory-length", "目次区长度不是12的倍数"},
        {"directory-end", "目次区没有以字段结束符结尾"},
        {"entry-digits", "目次项的长度或起始位置不全是数字"},
        {"field-outside", "字段位于纪录之外"},
        {"field-overlap", "字段与其他字段重叠"},
        {"field-terminator", "字段没有以字段结束符结尾"},
        {"junk", "纪录之间有不属于任何纪录的字节"},
        {"invalid-bytes", "有纪录字符集中无效的字节"},
        {"bad-utf8", "纪录标明为UTF-8（头标第9位为a），却不是有效的UTF-8"},
    };
    for (const Meaning& m : kMeanings) {
        if (m.code == code)
            return QString::fromUtf8(m.text);
    }
    return {};
}

QStringList CheckProblemLines(const std::vector<veltrane::CheckProblem>& problems)
{
    QStringList lines;
    for (const veltrane::CheckProblem& problem : problems) {
        const QString meaning = CheckProblemMeaning(problem.code);
        lines.append(QStringLiteral("%1\t%2%3").arg(fromUtf8(problem.code),
                                                    meaning.isEmpty() ? QString() : meaning + QStringLiteral("：  "),
                                                    fromUtf8(problem.description)));
    }
    return lines;
}

QString SeverityCaption(veltrane::Severity severity)
{
    return severity == veltrane::Severity::Error ? QStringLiteral("错误") : QStringLiteral("警告");
}

QString RuleFindingPlace(const veltrane::CheckProblem& finding)
{
    if (finding.tag.empty())
        return finding.position >= 0 ? QStringLiteral("头标/%1").arg(finding.position, 2, 10, QLatin1Char('0'))
                                     : QStringLiteral("纪录");
    QString place = fromUtf8(finding.tag);
    if (finding.occurrence > 1)
        place += QStringLiteral("（第%1个）").arg(finding.occurrence);
    if (finding.indicator == 1 || finding.indicator == 2)
        place += finding.indicator == 1 ? QStringLiteral(" 第一指示符") : QStringLiteral(" 第二指示符");
    else if (finding.subfield != 0)
        place += QLatin1Char('$') + QChar::fromLatin1(finding.subfield);
    else if (finding.position >= 0)
        place += QStringLiteral("/%1").arg(finding.position, 2, 10, QLatin1Char('0'));
    return place;
}

TDlgCheckRecord::TDlgCheckRecord(QWidget* owner, int record, const std::vector<veltrane::CheckProblem>& problems,
                                 const std::vector<veltrane::CheckProblem>& findings, const QString& rules,
                                 std::function<void(const veltrane::CheckProblem&)> choose)
    : TModalDialog(owner)
{
    setWindowTitle(QStringLiteral("检查纪录"));
    setFont(ChineseDialogFont());
    auto* layout = new QVBoxLayout(this);
    LabelRecord = new QLabel(problems.empty()
                                 ? QStringLiteral("第 %1 条纪录：").arg(record)
                                 : QStringLiteral("第 %1 条纪录有 %2 个结构问题：").arg(record).arg(problems.size()),
                             this);
    MemoProblems = new QPlainTextEdit(this);
    MemoProblems->setObjectName(QStringLiteral("MemoProblems"));
    MemoProblems->setReadOnly(true);
    MemoProblems->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MemoProblems->setPlainText(problems.empty() ? QString::fromUtf8(kNoStructuralProblemsText)
                                                : CheckProblemLines(problems).join(QLatin1Char('\n')));
    MemoProblems->setAccessibleName(LabelRecord->text());
    BtnClose = new QPushButton(QStringLiteral("关闭"), this);
    BtnClose->setDefault(true);
    connect(BtnClose, &QPushButton::clicked, this, [this] { done(kResultOk); });
    layout->addWidget(LabelRecord);
    layout->addWidget(MemoProblems, 1);
    if (!findings.empty()) {
        LabelFindings = new QLabel(QStringLiteral("按 %1 规则有 %2 个内容问题（双击一行，在纪录中选中它）：")
                                       .arg(rules)
                                       .arg(findings.size()),
                                   this);
        ListFindings = new QTreeWidget(this);
        ListFindings->setObjectName(QStringLiteral("ListFindings"));
        ListFindings->setRootIsDecorated(false);
        ListFindings->setHeaderLabels(
            {QStringLiteral("严重性"), QStringLiteral("位置"), QStringLiteral("说明"), QStringLiteral("详情")});
        ListFindings->setAccessibleName(LabelFindings->text());
        for (const veltrane::CheckProblem& finding : findings) {
            auto* row = new QTreeWidgetItem(ListFindings, {SeverityCaption(finding.severity), RuleFindingPlace(finding),
                                                           fromUtf8(veltrane::rules::RuleCodeMeaningZh(finding.code)),
                                                           fromUtf8(finding.description)});
            row->setToolTip(3, row->text(3));
        }
        ListFindings->header()->resizeSections(QHeaderView::ResizeToContents);
        if (choose) {
            connect(ListFindings, &QTreeWidget::itemDoubleClicked, this,
                    [this, findings, choose = std::move(choose)](QTreeWidgetItem* item, int) {
                        const int row = ListFindings->indexOfTopLevelItem(item);
                        if (row >= 0 && row < static_cast<int>(findings.size()))
                            choose(findings[static_cast<std::size_t>(row)]);
                    });
        }
        layout->addWidget(LabelFindings);
        layout->addWidget(ListFindings, 2);
    }
    layout->addWidget(BtnClose, 0, Qt::AlignRight);
    resize(findings.empty() ? QSize(560, 260) : QSize(720, 440));
    CentreOnMainWindow(this, owner);
}

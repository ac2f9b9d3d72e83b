// SPDX-License-Identifier: Apache-2.0
#include "dialogs/CheckRecordDialog.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string_view>


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

TDlgCheckRecord::TDlgCheckRecord(QWidget* owner, int record, const std::vector<veltrane::CheckProblem>& problems)
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
    layout->addWidget(BtnClose, 0, Qt::AlignRight);
    resize(560, 260);
    CentreOnMainWindow(this, owner);
}

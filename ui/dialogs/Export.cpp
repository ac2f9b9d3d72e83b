// SPDX-License-Identifier: Apache-2.0
#include "dialogs/Export.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <memory>

#include "files/FileAccess.h"
#include "files/TargetFile.h"
#include "windows/Marc.h"
#include "dialogs/Prompt.h"
#include "formats/RecordConvert.h"
#include "state/SharedState.h"

namespace {

using veltrane::RecordFormat;
using veltrane::fileaccess::identityOf;
using veltrane::fileaccess::UniqueFd;


struct FormatItem {
    RecordFormat format;
    const char* caption;
};
constexpr FormatItem kFormats[] = {
    {RecordFormat::MarcXml, "MARCXML (*.xml)"},
    {RecordFormat::Json, "MARC-in-JSON (*.json)"},
    {RecordFormat::JsonLines, "JSON Lines (*.jsonl)"},
    {RecordFormat::Mrk, "助记符文本 (*.mrk)"},
    {RecordFormat::Iso2709, "标准 ISO 2709 (*.mrc)"},
};

/// Records chosen one by one (in the record list), found through the window's index.
struct ChosenRecords {
    std::vector<std::int64_t> numbers;
    std::string indexFileName;
};

/// What the worker leaves for the interface thread.
struct ExportOutcome {
    veltrane::ConvertResult result;
    QString failure;  ///< a file that could not be opened or written, said in full
    std::vector<veltrane::ConvertWarning> warnings;
};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Runs on the worker. A target left unfinished (failure or cancel) keeps what
// it held: a new or overwritten one is written beside and only renamed into
// place when done; an appended one is cut back.
void exportOnWorker(const veltrane::ScratchDisplay& scratch, const std::string& recordFile, const std::string& targetName,
                    veltrane::TargetWrite write, const veltrane::ConvertOptions& options, const ChosenRecords& chosen,
                    const veltrane::WorkMonitor& monitor, ExportOutcome& outcome)
{
    const UniqueFd input(::open(recordFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        outcome.failure = QStringLiteral("无法打开纪录文件：%1").arg(errorText(errno));
        return;
    }
    veltrane::TargetFile target;
    if (const int error = target.open(targetName, write, veltrane::TargetPlacement::Beside); error != 0) {
        outcome.failure = QStringLiteral("无法写入导出文件“%1”：%2").arg(QFile::decodeName(targetName.c_str()), errorText(error));
        return;
    }
    const char* refusal = nullptr;
    if (scratch.isOpenRecordFile(target.identity()) || target.identity() == identityOf(input.get()))
        refusal = kExportTargetIsRecordFileMessage;
    else if (target.identity() == identityOf(scratch.path().c_str()))
        refusal = kExportTargetIsScratchFileMessage;
    if (refusal != nullptr) {
        target.rollback();
        outcome.failure = QString::fromUtf8(refusal);
        return;
    }
    if (const int error = target.begin(); error != 0) {
        target.rollback();
        outcome.failure = QStringLiteral("无法写入导出文件“%1”：%2").arg(QFile::decodeName(targetName.c_str()), errorText(error));
        return;
    }
    const auto warn = [&outcome](const veltrane::ConvertWarning& warning) { outcome.warnings.push_back(warning); };
    if (chosen.numbers.empty()) {
        outcome.result = veltrane::ConvertRecords(input.get(), target.fd(), options, monitor, warn);
    } else {
        const UniqueFd index(::open(chosen.indexFileName.c_str(), O_RDONLY | O_CLOEXEC));
        if (!index) {
            target.rollback();
            outcome.failure = QStringLiteral("无法打开纪录文件的索引：%1").arg(errorText(errno));
            return;
        }
        outcome.result = veltrane::ConvertChosenRecords(input.get(), index.get(), chosen.numbers, target.fd(), options,
                                                        monitor, warn);
    }
    if (outcome.result.status != veltrane::ConvertResult::Status::Done) {
        target.rollback();
    } else if (const int error = target.commit(); error != 0) {
        outcome.result.status = veltrane::ConvertResult::Status::WriteError;
        outcome.result.error = error;
    }
}

void tellOutcome(const ExportOutcome& outcome, const QString& target)
{
    using Status = veltrane::ConvertResult::Status;
    if (!outcome.failure.isEmpty()) {
        Prompt().showMessage(outcome.failure.toStdString());
        return;
    }
    const veltrane::ConvertResult& result = outcome.result;
    switch (result.status) {
    case Status::Cancelled:
        return;  // asked for: nothing to tell
    case Status::ReadError:
        Prompt().showMessage(QStringLiteral("读取纪录文件出错：%1。导出文件未写入。").arg(errorText(result.error)).toStdString());
        return;
    case Status::WriteError:
        Prompt().showMessage(
            QStringLiteral("写入导出文件“%1”出错：%2。导出未完成。").arg(target, errorText(result.error)).toStdString());
        return;
    case Status::FormatError:
        Prompt().showMessage(QStringLiteral("导出失败：%1").arg(QString::fromStdString(result.message)).toStdString());
        return;
    case Status::Done:
        break;
    }
    if (!outcome.warnings.empty())
        Prompt().showMessage(ExportSummary(result.converted, outcome.warnings).toStdString());
}

/// "第 3、5、8 条", at most ten numbers, then "等".
QString recordList(const std::vector<std::int64_t>& numbers)
{
    constexpr std::size_t kShown = 10;
    QStringList shown;
    for (std::size_t i = 0; i < numbers.size() && i < kShown; ++i)
        shown.append(QString::number(numbers[i]));
    return QStringLiteral("第 %1 条%2").arg(shown.join(QStringLiteral("、")), numbers.size() > kShown ? QStringLiteral("等") : QString());
}

}  // namespace

QString ExportSummary(std::int64_t exported, const std::vector<veltrane::ConvertWarning>& warnings)
{
    // A record is partly read when any of its problems is more than replaced characters.
    std::vector<std::int64_t> partly, replacedIn;
    std::int64_t replaced = 0;
    for (const veltrane::ConvertWarning& warning : warnings) {
        std::vector<std::int64_t>& list = warning.replaced > 0 ? replacedIn : partly;
        if (list.empty() || list.back() != warning.number)
            list.push_back(warning.number);
        replaced += warning.replaced;
    }
    QString text = QStringLiteral("已导出 %1 条纪录。").arg(exported);
    if (!partly.empty())
        text += QStringLiteral("\n%1 条纪录只能部分读出，按能读出的部分导出：%2。").arg(partly.size()).arg(recordList(partly));
    if (!replacedIn.empty())
        text += QStringLiteral("\n%1 条纪录中有 %2 个无效字节或不能写出的字符，已写为替换字符 U+FFFD：%3。")
                    .arg(replacedIn.size())
                    .arg(replaced)
                    .arg(recordList(replacedIn));
    return text;
}

QString ExportSuffix(RecordFormat format)
{
    switch (format) {
    case RecordFormat::MarcXml:
        return QStringLiteral("xml");
    case RecordFormat::Json:
        return QStringLiteral("json");
    case RecordFormat::JsonLines:
        return QStringLiteral("jsonl");
    case RecordFormat::Mrk:
        return QStringLiteral("mrk");
    case RecordFormat::Text:
        return QStringLiteral("txt");
    case RecordFormat::Tsv:
        return QStringLiteral("tsv");
    case RecordFormat::Iso2709:
        break;
    }
    return QStringLiteral("mrc");
}

bool ExportAppendable(RecordFormat format)
{
    return format != RecordFormat::MarcXml && format != RecordFormat::Json;
}

TDlgExport::TDlgExport(QWidget* owner, int currentRecord, const QString& sourcePath, const ExportChoice& last,
                       int selectedRecords)
    : TModalDialog(owner), m_lastFormat(last.format)
{
    setWindowTitle(QStringLiteral("导出纪录"));
    setFont(ChineseDialogFont());

    auto* range = new QGroupBox(QStringLiteral("范围"), this);
    auto* rangeLayout = new QGridLayout(range);
    RbCurrent = new QRadioButton(QStringLiteral("当前纪录（第 %1 条）").arg(currentRecord), range);
    RbRange = new QRadioButton(QStringLiteral("纪录"), range);
    RbAll = new QRadioButton(QStringLiteral("整个文件"), range);
    RbSelected = new QRadioButton(QStringLiteral("列表中所选的纪录（%1 条，按列表顺序）").arg(selectedRecords), range);
    RbSelected->setVisible(selectedRecords > 0);
    EditFrom = new QLineEdit(range);
    EditTo = new QLineEdit(range);
    EditFrom->setText(QString::number(currentRecord));
    EditTo->setText(QString::number(currentRecord));
    EditFrom->setAccessibleName(QStringLiteral("开始记录号"));
    EditTo->setAccessibleName(QStringLiteral("结束记录号"));
    (selectedRecords > 0 ? RbSelected : RbCurrent)->setChecked(true);
    rangeLayout->addWidget(RbCurrent, 0, 0, 1, 4);
    rangeLayout->addWidget(RbRange, 1, 0);
    rangeLayout->addWidget(EditFrom, 1, 1);
    rangeLayout->addWidget(new QLabel(QStringLiteral("至"), range), 1, 2);
    rangeLayout->addWidget(EditTo, 1, 3);
    rangeLayout->addWidget(RbAll, 2, 0, 1, 4);
    rangeLayout->addWidget(RbSelected, 3, 0, 1, 4);
    LblRangeError = new QLabel(range);
    LblRangeError->setObjectName(QStringLiteral("LblRangeError"));
    QPalette warning = LblRangeError->palette();
    warning.setColor(QPalette::WindowText, Qt::red);
    LblRangeError->setPalette(warning);
    rangeLayout->addWidget(LblRangeError, 1, 4);
    const auto rangeChanged = [this] {
        EditFrom->setEnabled(RbRange->isChecked());
        EditTo->setEnabled(RbRange->isChecked());
    };
    connect(RbRange, &QRadioButton::toggled, this, rangeChanged);
    rangeChanged();
    // Typing a number means that range.
    for (QLineEdit* edit : {EditFrom, EditTo})
        connect(edit, &QLineEdit::textEdited, this, [this] {
            RbRange->setChecked(true);
            LblRangeError->clear();
        });
    for (QRadioButton* choice : {RbCurrent, RbRange, RbAll, RbSelected})
        connect(choice, &QRadioButton::toggled, LblRangeError, &QLabel::clear);

    auto* formatLabel = new QLabel(QStringLiteral("格式："), this);
    CbxFormat = new QComboBox(this);
    for (const FormatItem& item : kFormats)
        CbxFormat->addItem(QString::fromUtf8(item.caption), static_cast<int>(item.format));
    formatLabel->setBuddy(CbxFormat);
    ChkRepair = new QCheckBox(QStringLiteral("修复结构问题"), this);
    ChkRepair->setToolTip(QStringLiteral("导出前做 fix 命令的安全修复：按字段重算纪录长度、数据起始地址和地址目次，去掉纪录间的杂乱字节，数据中的制表符和换行符换为空格"));
    ChkRepair->setChecked(last.repair);

    auto* fileLabel = new QLabel(QStringLiteral("导出到："), this);
    // Another file is usually exported under another name: only the folder
    // of the last target is kept.
    QString proposed;
    if (!last.fileName.isEmpty())
        proposed = QFileInfo(last.fileName).absoluteDir().filePath(QFileInfo(sourcePath).completeBaseName() +
                                                                    QLatin1Char('.') + ExportSuffix(last.format));
    EditFileName = new QLineEdit(proposed, this);
    EditFileName->setMinimumWidth(280);
    fileLabel->setBuddy(EditFileName);
    BtnBrowse = new QToolButton(this);
    BtnBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BtnBrowse->setToolTip(QStringLiteral("选择文件"));
    BtnBrowse->setAutoRaise(true);
    connect(BtnBrowse, &QToolButton::clicked, this, &TDlgExport::BtnBrowseClick);

    BtnOk = MakeStockOkButton(this, QStringLiteral("确定"));
    BtnCancel = MakeStockCancelButton(this, QStringLiteral("取消"));

    auto* form = new QGridLayout;
    form->addWidget(formatLabel, 0, 0);
    form->addWidget(CbxFormat, 0, 1, 1, 2);
    form->addWidget(fileLabel, 1, 0);
    form->addWidget(EditFileName, 1, 1);
    form->addWidget(BtnBrowse, 1, 2);
    form->addWidget(ChkRepair, 2, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    buttons->addWidget(BtnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(range);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setFormat(last.format);
    connect(CbxFormat, &QComboBox::currentIndexChanged, this, &TDlgExport::formatChanged);
    CentreOnMainWindow(this, owner);
}

void TDlgExport::done(int result)
{
    if (result == kResultOk && m_rangeCheck && !m_rangeCheck()) {
        LblRangeError->setText(QStringLiteral("记录号不合法！"));
        EditFrom->setFocus();
        EditFrom->selectAll();
        return;
    }
    TModalDialog::done(result);
}

RecordFormat TDlgExport::format() const
{
    return static_cast<RecordFormat>(CbxFormat->currentData().toInt());
}

void TDlgExport::setFormat(RecordFormat format)
{
    const int index = CbxFormat->findData(static_cast<int>(format));
    CbxFormat->setCurrentIndex(index >= 0 ? index : 0);
}

void TDlgExport::formatChanged()
{
    const RecordFormat now = format();
    const QString oldSuffix = QLatin1Char('.') + ExportSuffix(m_lastFormat);
    QString name = EditFileName->text();
    if (name.endsWith(oldSuffix, Qt::CaseInsensitive)) {
        name.chop(oldSuffix.size());
        EditFileName->setText(name + QLatin1Char('.') + ExportSuffix(now));
    }
    m_lastFormat = now;
}

void TDlgExport::BtnBrowseClick()
{
    QFileDialog saveDialog(this);
    saveDialog.setObjectName(QStringLiteral("ExportSaveDialog"));
    saveDialog.setWindowTitle(QStringLiteral("导出到"));
    saveDialog.setAcceptMode(QFileDialog::AcceptSave);
    saveDialog.setFileMode(QFileDialog::AnyFile);
    const QString suffix = ExportSuffix(format());
    saveDialog.setNameFilters({CbxFormat->currentText(), QStringLiteral("所有文件 (*)")});
    saveDialog.setDefaultSuffix(suffix);
    // The question about an existing file comes later, with the answers its format allows.
    saveDialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (const QString chosen = ExecSaveDialog(saveDialog); !chosen.isEmpty())
        EditFileName->setText(chosen);
}

bool MayWriteTarget(const DocumentSharedState& shared, const std::string& targetName)
{
    if (shared.scratch.isOpenRecordFile(targetName.c_str())) {
        Prompt().showMessage(kExportTargetIsRecordFileMessage);
        return false;
    }
    if (const auto identity = identityOf(targetName.c_str());
        identity && identity == identityOf(shared.scratch.path().c_str())) {
        Prompt().showMessage(kExportTargetIsScratchFileMessage);
        return false;
    }
    return true;
}

void ExportRecords(TFormMarc* window, std::int64_t first, std::int64_t last, RecordFormat format, const QString& target,
                   std::vector<std::int64_t> chosen, bool repair)
{
    if (target.isEmpty()) {
        Prompt().showMessage(kExportNoTargetMessage);
        return;
    }
    const std::string targetName = QFile::encodeName(target).toStdString();
    const DocumentSharedState& shared = window->shared();
    if (!MayWriteTarget(shared, targetName))
        return;
    veltrane::TargetWrite write = veltrane::TargetWrite::Create;
    if (::access(targetName.c_str(), F_OK) == 0) {
        if (ExportAppendable(format)) {
            const std::optional<veltrane::TargetWrite> answer = AskOverwriteOrAppend(targetName);
            if (!answer)
                return;
            write = *answer;
        } else {
            if (!Prompt().askReplace(target))
                return;
            write = veltrane::TargetWrite::Overwrite;
        }
    }
    veltrane::ConvertOptions options;
    options.from = RecordFormat::Iso2709;
    options.to = format;
    options.mode = shared.delimiterMode;
    options.charset = window->CharsetChoice;
    options.first = first;
    options.last = last;
    options.repair = repair;
    auto outcome = std::make_shared<ExportOutcome>();
    ChosenRecords records{std::move(chosen), window->IndexFileName.value_or(std::string())};
    window->runWork(QStringLiteral("导出"),
                    [outcome, scratch = shared.scratch, file = window->FileName, targetName, write, options,
                     records = std::move(records)](const veltrane::WorkMonitor& monitor, ViewerPrompt&) {
                        // A copy of the shared scratch state: windows may open and close meanwhile.
                        exportOnWorker(scratch, file, targetName, write, options, records, monitor, *outcome);
                    },
                    [outcome, target] { tellOutcome(*outcome, target); });
}

std::optional<veltrane::TargetWrite> AskOverwriteOrAppend(const std::string& targetName)
{
    switch (Prompt().askOverwrite(targetName)) {
    case veltrane::OverwriteChoice::Overwrite:
        return veltrane::TargetWrite::Overwrite;
    case veltrane::OverwriteChoice::Append:
        return veltrane::TargetWrite::Append;
    default:
        return std::nullopt;
    }
}

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>

#include <QString>

#include <cstdint>
#include <string>
#include <vector>
#include <functional>
#include <utility>

#include "dialogs/DialogFrame.h"
#include "formats/RecordConvert.h"
#include "formats/RecordFormats.h"
#include "files/TargetFile.h"
#include "state/SharedState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class TFormMarc;

/// 文件 → 导出…: which records, in which format, into which file.
class TDlgExport : public TModalDialog {
    Q_OBJECT
public:
    /// currentRecord names the first choice of range. The format starts as
    /// last confirmed; the file, once a target was chosen, as the record file's
    /// name (sourcePath) with the format's suffix in the folder of the last target.
    /// With records selected in the record list, they are the first choice.
    TDlgExport(QWidget* owner, int currentRecord, const QString& sourcePath, const ExportChoice& last = {},
               int selectedRecords = 0);

    QRadioButton* RbCurrent;
    QRadioButton* RbRange;
    QRadioButton* RbAll;
    /// The records selected in the record list, in its order (hidden when none are).
    QRadioButton* RbSelected;
    QLineEdit* EditFrom;
    QLineEdit* EditTo;
    QComboBox* CbxFormat;
    /// 修复结构问题: the records get the safe repairs of `fix` before they are
    /// written, in every format; off until the user chose it.
    QCheckBox* ChkRepair;
    QLineEdit* EditFileName;
    QToolButton* BtnBrowse;
    QPushButton* BtnOk;
    QPushButton* BtnCancel;
    /// Beside the range: why the range typed cannot be exported (empty otherwise).
    QLabel* LblRangeError;

    [[nodiscard]] veltrane::RecordFormat format() const;
    void setFormat(veltrane::RecordFormat format);
    /// Tells whether the range chosen can be exported; OK with one that cannot
    /// keeps the dialog open, the reason beside the range, and everything
    /// chosen as it was.
    void setRangeCheck(std::function<bool()> check) { m_rangeCheck = std::move(check); }
    void done(int result) override;

public slots:
    /// The save dialog; it starts in the folder last chosen and remembers the new one.
    void BtnBrowseClick();

private:
    /// A file name ending in the previous format's suffix takes the new one.
    void formatChanged();
    veltrane::RecordFormat m_lastFormat;
    std::function<bool()> m_rangeCheck;
};

/// What an export tells when it is done with warnings: the records exported,
/// then those read only in part and those with characters written as U+FFFD
/// (their counts and numbers) apart.
[[nodiscard]] QString ExportSummary(std::int64_t exported, const std::vector<veltrane::ConvertWarning>& warnings);

/// The file name suffix of a format ("xml", "json", "jsonl", "mrk", "mrc").
[[nodiscard]] QString ExportSuffix(veltrane::RecordFormat format);
/// Whether a second run may be appended to an existing file of the format:
/// not for one XML or JSON document.
[[nodiscard]] bool ExportAppendable(veltrane::RecordFormat format);

/// Whether records may be written into targetName (a local 8-bit path): not
/// into a record file open in a window, nor into the scratch display file;
/// the refusal is told through Prompt().
[[nodiscard]] bool MayWriteTarget(const DocumentSharedState& shared, const std::string& targetName);
/// How to write onto an existing target file as the overwrite question's answer
/// says: overwrite or append; nothing when the user cancels.
[[nodiscard]] std::optional<veltrane::TargetWrite> AskOverwriteOrAppend(const std::string& targetName);

/// Exports records first..last of window's file into target (asking about an
/// existing one through Prompt()) as the window's background work; with
/// `chosen`, those records in that order instead; with `repair`, each record
/// mended as `fix` mends it before it is converted. The dialog hands its
/// choice here; tests call it directly.
void ExportRecords(TFormMarc* window, std::int64_t first, std::int64_t last, veltrane::RecordFormat format,
                   const QString& target, std::vector<std::int64_t> chosen = {}, bool repair = false);

// Messages of the export.
inline constexpr const char* kExportNoTargetMessage = "请指定导出文件。";
inline constexpr const char* kExportTargetIsRecordFileMessage =
    "导出文件是一个正在打开的纪录文件，不能写入。请另选一个文件。";
inline constexpr const char* kExportTargetIsScratchFileMessage =
    "导出文件是显示纪录用的临时文件，每次显示都会改写它。请另选一个文件。";

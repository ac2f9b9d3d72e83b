// SPDX-License-Identifier: Apache-2.0
#include "commands/MarcCommands.h"

#include <fcntl.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QPointer>
#include <QRadioButton>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "commands/WindowSearch.h"
#include "dialogs/CheckRecordDialog.h"
#include "dialogs/DialogFrame.h"
#include "dialogs/Export.h"
#include "dialogs/FindAll.h"
#include "dialogs/Findmarc.h"
#include "dialogs/GetMarc.h"
#include "dialogs/Goto.h"
#include "windows/FindResults.h"
#include "windows/ProfileWindow.h"
#include "windows/Marc.h"
#include "dialogs/Prompt.h"
#include "files/FileAccess.h"
#include "files/RecordFile.h"
#include "files/RecordExtract.h"
#include "display/RecordScan.h"
#include "profile/FileProfile.h"
#include "search/SearchText.h"
#include "state/SharedState.h"

namespace {

constexpr const char* kNotInLegalRange = "Value is not in legal range";
constexpr const char* kFindNotFound = "    没有找到纪录    ";
constexpr const char* kFindNextNotFound = "    没有找到纪录！    ";
constexpr const char* kInvalidRecordNumber = "    记录号不合法！    ";

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int hexDigitValue(QChar c)
{
    if (isAsciiDigit(c))
        return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    return -1;
}

/// The typed text as UTF-8; a lone surrogate (which no set holds) stays a
/// sequence of three bytes that is not UTF-8.
std::string TypedUtf8(const QString& text)
{
    if (text.isValidUtf16())
        return text.toStdString();
    std::string utf8;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const bool paired = QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (QChar::isSurrogate(unit) && !paired) {
            utf8 += static_cast<char>(0xE0 | (unit >> 12));
            utf8 += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
            continue;
        }
        utf8 += text.mid(i, paired ? 2 : 1).toStdString();
        i += paired ? 1 : 0;
    }
    return utf8;
}

}  // namespace

std::optional<std::int32_t> StrictToInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    const QStringView rest = text.mid(i);
    qsizetype hexPrefix = 0;
    if (rest.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        hexPrefix = 2;
    else if (rest.startsWith(QLatin1Char('$')) || rest.startsWith(QLatin1Char('x'), Qt::CaseInsensitive))
        hexPrefix = 1;

    if (hexPrefix > 0) {
        const QStringView digits = rest.mid(hexPrefix);
        if (digits.isEmpty())
            return std::nullopt;
        std::uint32_t pattern = 0;
        for (QChar c : digits) {
            const int value = hexDigitValue(c);
            if (value < 0 || pattern > 0x0FFF'FFFFu)
                return std::nullopt;
            pattern = (pattern << 4) | static_cast<std::uint32_t>(value);
        }
        if (negative)
            pattern = 0u - pattern;
        return static_cast<std::int32_t>(pattern);
    }

    if (rest.isEmpty())
        return std::nullopt;
    // The magnitude may reach 2^31 for the most negative value.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (QChar c : rest) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - '0');
        if (magnitude > kLimit)
            return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int64_t LeadingDecimal(QStringView text)
{
    qsizetype i = 0;
    auto isCSpace = [](QChar c) {
        return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
    };
    while (i < text.size() && isCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t magnitude = 0;
    for (; i < text.size() && isAsciiDigit(text[i]); ++i) {
        const int digit = text[i].unicode() - '0';
        magnitude = magnitude > (kMax - digit) / 10 ? kMax : magnitude * 10 + digit;
    }
    return negative ? -magnitude : magnitude;
}

EncodedSearchText EncodeSearchText(const QString& text)
{
    return EncodeSearchText(text, veltrane::CharsetSetting::Gbk);
}

EncodedSearchText EncodeSearchText(const QString& text, veltrane::CharsetSetting setting)
{
    thread_local veltrane::TextCodec codec;
    const veltrane::TypedSearchText checked = veltrane::CheckTypedSearchText(codec, setting, TypedUtf8(text));
    switch (checked.refusal) {
    case veltrane::SearchTextRefusal::None:
        break;
    case veltrane::SearchTextRefusal::NotInGbk:
        return {{}, QString::fromUtf8(kSearchTextNotGbkMessage)};
    case veltrane::SearchTextRefusal::NotInGb18030:
        return {{}, QString::fromUtf8(kSearchTextNotGb18030Message)};
    case veltrane::SearchTextRefusal::TooLong:
        return {{}, QString::fromUtf8(kSearchTextTooLongMessage)};
    }
    return {QByteArray::fromStdString(checked.gbk), {}};
}

void GotoRecordCommand(TFormMarc* window)
{
    auto dialog = std::make_unique<TFormGotoRecord>(window);
    if (dialog->exec() != kResultOk)
        return;
    const QString typed = dialog->EdtRecordNo->text();
    dialog.reset();

    const std::optional<std::int32_t> n = StrictToInt(typed);
    if (!n) {
        Prompt().showError(QStringLiteral("'%1' is not a valid integer value").arg(typed));
        return;
    }
    if (*n > window->RecordCount || *n < 1) {
        Prompt().showMessage(kNotInLegalRange);
        return;
    }
    // The number changes only with the record shown: a display that fails
    // leaves both as they were.
    (void)window->ShowRecord(*n, *n, "");
}

void FindCommand(TFormMarc* window)
{
    auto dialog = std::make_unique<TFormFind>(window);
    if (dialog->exec() != kResultOk)
        return;
    const QString typed = dialog->EditTextToFind->text();
    const bool caseSensitive = dialog->CbxCase->isChecked();
    dialog.reset();

    const EncodedSearchText encoded = EncodeSearchText(typed, window->CharsetChoice);
    if (!encoded.refusal.isEmpty()) {
        Prompt().showMessage(encoded.refusal.toStdString());
        return;
    }
    DocumentSharedState& shared = window->shared();
    shared.searchText = encoded.bytes;
    shared.searchTextTyped = typed;
    shared.searchCaseSensitive = caseSensitive;

    if (shared.searchTextTyped.isEmpty())
        Prompt().showMessage(kFindNotFound);
    else
        window->FindFrom(window->CurrentRecord + 1, kFindNotFound);
}

void FindNextCommand(TFormMarc* window)
{
    const DocumentSharedState& shared = window->shared();
    if (shared.searchText.isEmpty() && shared.searchTextTyped.isEmpty())
        Prompt().showMessage(kFindNextNotFound);
    else
        window->FindFrom(window->CurrentRecord + 1, kFindNextNotFound);
}

void ExtractCommand(TFormMarc* window)
{
    ExtractChoice& last = window->shared().lastExtract;
    auto dialog = std::make_unique<TDlgGetMarc>(window);
    dialog->EditFrom->setText(QString::number(window->CurrentRecord));
    dialog->EditTo->setText(QString::number(window->CurrentRecord));
    dialog->EditFileName->setText(last.fileName);
    if (dialog->exec() != kResultOk)
        return;
    last = {dialog->EditFrom->text(), dialog->EditTo->text(), dialog->EditFileName->text()};
    dialog.reset();

    const std::int64_t a = LeadingDecimal(last.fromText);
    const std::int64_t b = LeadingDecimal(last.toText);
    if (a < 1 || a > window->RecordCount || b < 1 || b > window->RecordCount || b < a) {
        Prompt().showMessage(kInvalidRecordNumber);
        return;
    }
    window->runWork(QStringLiteral("抽取"),
                    [scratch = window->shared().scratch, file = window->FileName,
                     index = window->IndexFileName.value_or(std::string()), target = QFile::encodeName(last.fileName),
                     a, b](const veltrane::WorkMonitor& monitor, ViewerPrompt& prompt) {
                        // A copy of the shared scratch file's record: the
                        // windows may open and close meanwhile.
                        const veltrane::ExtractResult result =
                            veltrane::ExtractRecords(prompt, scratch, file.c_str(), index.c_str(), static_cast<int>(a),
                                                     static_cast<int>(b), target.constData(), monitor);
                        if (result.outcome == veltrane::ExtractOutcome::Failed)
                            prompt.showMessage(result.message);
                    },
                    [] {});
}

void ExportCommand(TFormMarc* window, const std::vector<int>& selected)
{
    auto dialog = std::make_unique<TDlgExport>(window, window->CurrentRecord, window->TitleName,
                                               window->shared().lastExport, static_cast<int>(selected.size()));
    // The records chosen, 1-based and inclusive; nothing for a range typed
    // outside the file.
    const auto chosen = [&dialog, window]() -> std::optional<std::pair<std::int64_t, std::int64_t>> {
        if (dialog->RbAll->isChecked() || dialog->RbSelected->isChecked())
            return std::pair<std::int64_t, std::int64_t>(1, std::numeric_limits<std::int64_t>::max());
        if (!dialog->RbRange->isChecked())
            return std::pair<std::int64_t, std::int64_t>(window->CurrentRecord, window->CurrentRecord);
        const std::int64_t first = LeadingDecimal(dialog->EditFrom->text());
        const std::int64_t last = LeadingDecimal(dialog->EditTo->text());
        if (first < 1 || last < first || last > window->RecordCount)
            return std::nullopt;
        return std::pair<std::int64_t, std::int64_t>(first, last);
    };
    dialog->setRangeCheck([&chosen] { return chosen().has_value(); });
    if (dialog->exec() != kResultOk)
        return;
    const veltrane::RecordFormat format = dialog->format();
    const QString target = dialog->EditFileName->text().trimmed();
    const auto [first, last] = *chosen();
    const bool selection = !selected.empty() && dialog->RbSelected->isChecked();
    const bool repair = dialog->ChkRepair->isChecked();
    dialog.reset();
    window->shared().lastExport = {format, target, repair};
    ExportRecords(window, first, last, format, target,
                  selection ? std::vector<std::int64_t>(selected.begin(), selected.end()) : std::vector<std::int64_t>(),
                  repair);
}

void CheckRecordCommand(TFormMarc* window)
{
    const RecordInfo& info = window->recordInfo();
    QPointer<TFormMarc> shown(window);
    TDlgCheckRecord dialog(window, window->CurrentRecord, info.problems, info.findings, RuleSetCaption(info.rules),
                           [shown](const veltrane::CheckProblem& finding) {
                               if (shown)
                                   (void)shown->selectFinding(finding);
                           });
    dialog.exec();
}

void FindAllCommand(QMdiArea* area, FindResultsDock* dock, const QString& text, const QString& tag)
{
    QList<TFormMarc*> windows;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder)) {
        // A file still being indexed has no records to show yet.
        if (auto* document = qobject_cast<TFormMarc*>(window); document != nullptr && document->isOpen())
            windows.append(document);
    }
    if (windows.isEmpty())
        return;
    auto dialog = std::make_unique<TFormFindAll>(area->window());
    dialog->EditTextToFind->setText(text);
    dialog->EditTag->setText(tag);
    if (dialog->exec() != kResultOk)
        return;
    const QString typed = dialog->EditTextToFind->text();
    const bool caseSensitive = dialog->CbxCase->isChecked();
    const QString fieldTag = dialog->EditTag->text();
    dialog.reset();

    // Each window compares the text in its records' own sets: no set refuses it.
    const EncodedSearchText encoded = EncodeSearchText(typed, veltrane::CharsetSetting::Auto);
    if (!encoded.refusal.isEmpty()) {
        Prompt().showMessage(encoded.refusal.toStdString());
        return;
    }
    const bool tagIsAscii = std::all_of(fieldTag.begin(), fieldTag.end(), [](QChar c) { return c.unicode() > ' ' && c.unicode() < 0x7F; });
    if (!fieldTag.isEmpty() && (fieldTag.size() != 3 || !tagIsAscii)) {
        Prompt().showMessage(kFindAllBadTagMessage);
        return;
    }
    std::vector<FindAllTarget> targets;
    // An empty text finds nothing anywhere: the list is emptied, nothing is read.
    for (TFormMarc* window : typed.isEmpty() ? QList<TFormMarc*>() : windows)
        targets.push_back({window->FileName, window->RecordCount,
                           MakeWindowSearchQuery(window->CharsetChoice, window->shared().delimiterMode, typed,
                                                 encoded.bytes, caseSensitive, fieldTag)});
    dock->search(windows, std::move(targets));
}

void ProfileCommand(TFormMarc* window, FindResultsDock* dock)
{
    auto result = std::make_shared<veltrane::ProfileResult>();
    window->runWork(
        QStringLiteral("文件概况"),
        [result, file = window->FileName, mode = window->shared().delimiterMode,
         setting = window->CharsetChoice](const veltrane::WorkMonitor& monitor, ViewerPrompt&) {
            const veltrane::fileaccess::UniqueFd input(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
            if (!input) {
                result->outcome = veltrane::Outcome::FileError;
                return;
            }
            *result = veltrane::ProfileRecords(input.get(), 1, std::numeric_limits<std::int64_t>::max(), mode, setting,
                                               monitor);
        },
        [window, dock = QPointer<FindResultsDock>(dock), result] {
            if (result->outcome == veltrane::Outcome::Cancelled)
                return;
            if (result->outcome == veltrane::Outcome::FileError) {
                Prompt().showMessage(kProfileReadErrorMessage);
                return;
            }
            QWidget* mainWindow = window->mdiArea()->window();
            auto* profileWindow = new ProfileWindow(window->TitleName, result->profile, mainWindow);
            QObject::connect(profileWindow, &ProfileWindow::tagActivated, mainWindow,
                             [area = QPointer<QMdiArea>(window->mdiArea()), dock, mainWindow](const QString& tag) {
                                 if (!area || !dock)
                                     return;
                                 // The hits fill the main window's list: it comes to the front.
                                 mainWindow->raise();
                                 mainWindow->activateWindow();
                                 FindAllCommand(area, dock, tag, tag);
                             });
            profileWindow->show();
        });
}

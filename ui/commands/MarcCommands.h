// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

#include "charset/Charset.h"

class FindResultsDock;
class QMdiArea;
class TFormMarc;

// The record commands, each asking through its dialog and then acting on a
// document window, and the conversions they apply to what is typed into their
// dialogs. What they remember between runs lives in the window's shared state.

void GotoRecordCommand(TFormMarc* window);
void FindCommand(TFormMarc* window);
void FindNextCommand(TFormMarc* window);
void ExtractCommand(TFormMarc* window);
/// Asks through the export dialog, then exports from window in the background;
/// the records selected in the record list (in its order) are one choice.
void ExportCommand(TFormMarc* window, const std::vector<int>& selected = {});
/// Lists the structural problems of the record on display.
void CheckRecordCommand(TFormMarc* window);
/// Asks for a text, then searches the files of area's open document windows
/// into dock's hit list; nothing without an open document window. The dialog
/// starts with text and tag filled in, as if typed.
void FindAllCommand(QMdiArea* area, FindResultsDock* dock, const QString& text = {}, const QString& tag = {});
/// Profiles window's file in the background, as the window reads it (the
/// delimiter variant and its character set), then shows the profile in a
/// window of its own; a tag double-clicked there is sought with find in all
/// windows into dock.
void ProfileCommand(TFormMarc* window, FindResultsDock* dock);

/// The go-to command's strict conversion: leading spaces, an optional sign, then
/// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X" whose
/// value must fit 32 bits and is taken as a 32-bit pattern ("$FFFFFFFF" is -1).
/// Nothing for an empty text, any other character (a trailing space too) or a
/// decimal value outside the 32-bit signed range.
[[nodiscard]] std::optional<std::int32_t> StrictToInt(QStringView text);

/// The extract command's reading of a record number, as the C library's atol
/// reads it: leading white space, an optional sign, then decimal digits up to
/// the first other character; 0 when there are none. Values beyond 64 bits
/// saturate instead of wrapping, so they stay out of any record range.
[[nodiscard]] std::int64_t LeadingDecimal(QStringView text);

/// A search text as the engine searches for it: GBK bytes, or the reason why it
/// cannot be searched for (then bytes is empty).
struct EncodedSearchText {
    QByteArray bytes;
    QString refusal;
};

/// Converts a typed search text to GBK; refuses a character GBK cannot hold
/// and a text longer than the engine's pattern buffer, never cutting it.
[[nodiscard]] EncodedSearchText EncodeSearchText(const QString& text);
/// The same for a window reading its records under setting: a character is
/// refused only when the setting is one fixed set that cannot hold it (GBK or
/// GB18030); otherwise a text GBK cannot hold gives no bytes, since each
/// record is searched in its own set.
[[nodiscard]] EncodedSearchText EncodeSearchText(const QString& text, veltrane::CharsetSetting setting);

/// Shown instead of searching when the text has a character GBK cannot hold.
inline constexpr const char* kSearchTextNotGbkMessage = "查找内容中有GBK编码不能表示的字符，无法查找。";
/// Shown instead of searching when the window reads GB18030 and the text has a
/// character GB18030 cannot hold (a lone surrogate).
inline constexpr const char* kSearchTextNotGb18030Message = "查找内容中有GB18030编码不能表示的字符，无法查找。";
/// Shown instead of searching when the text is longer than the engine can take.
inline constexpr const char* kSearchTextTooLongMessage = "查找内容太长：GBK编码最多255个字节，请缩短后再查找。";
/// Shown when the profile cannot read the record file.
inline constexpr const char* kProfileReadErrorMessage = "读取纪录文件出错，文件概况未能完成。";

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <functional>

class QPlainTextEdit;
class RecordTextEdit;

// The record text of a document window (its MemoMarc) as the user works with
// it: read-only, but selectable and copyable with mouse and keyboard, and
// zoomed in steps of its font size, in every document window at once.

inline constexpr int kDefaultRecordTextPixelSize = 16;
inline constexpr int kMinRecordTextPixelSize = 8;
inline constexpr int kMaxRecordTextPixelSize = 64;
inline constexpr int kRecordTextZoomStep = 2;

/// The pixel size steps zoom steps away from pixelSize, kept in range.
[[nodiscard]] int ZoomedPixelSize(int pixelSize, int steps);

/// Sets memo up as a document window's record text: selectable and copyable,
/// as shown (Ctrl+C) or as continuous text (复制为连续文本, Ctrl+Shift+C, also
/// in its context menu), at pixelSize, read by assistive technology as its display text; Ctrl+wheel over it asks zoom for whole steps (the main window
/// zooms all its windows), and the first and last record keys (Alt+Home, Alt+End)
/// reach the main window while it has the focus.
void PrepareRecordText(RecordTextEdit* memo, int pixelSize, std::function<void(int steps)> zoom);
/// text with every wrap taken out: each continuation line joined to the line
/// before it, without the line break and the five spaces of its indent.
[[nodiscard]] QString JoinWrappedLines(const QString& text);

/// Selects the first place where memo's text holds text (ASCII letters of
/// either case unless caseSensitive; within a line whose field has `tag` when
/// one is given), also where a wrap parts it, and scrolls it into view.
/// Whether there was one (otherwise the cursor goes to the start).
bool SelectFirstMatch(RecordTextEdit* memo, const QString& text, bool caseSensitive, const QString& tag = {});

/// Gives memo's font pixelSize, its family and other properties unchanged.
void SetRecordTextPixelSize(QPlainTextEdit* memo, int pixelSize);

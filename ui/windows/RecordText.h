// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>

class QPlainTextEdit;

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
/// at pixelSize; Ctrl+wheel over it asks zoom for whole steps (the main window
/// zooms all its windows), and the first and last record keys reach the main
/// window while it has the focus.
void PrepareRecordText(QPlainTextEdit* memo, int pixelSize, std::function<void(int steps)> zoom);
/// Gives memo's font pixelSize, its family and other properties unchanged.
void SetRecordTextPixelSize(QPlainTextEdit* memo, int pixelSize);

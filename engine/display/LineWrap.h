// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace veltrane {

// Record text is wrapped into lines of at most 77 columns (bytes for the
// double-byte display, display columns for decoded text); continuation lines
// start with five spaces, so they carry 72 further columns.
inline constexpr int kLineColumns = 77;
inline constexpr int kContinuationIndent = 5;
inline constexpr int kContinuationColumns = kLineColumns - kContinuationIndent;
/// Decoded text wraps after a space that starts in a line's last this many
/// columns, so that words stay whole (the byte layout breaks at the column).
inline constexpr int kWordBreakColumns = 15;
/// What ends a line that goes on: the line break and the continuation's indent.
inline constexpr std::string_view kLineWrap = "\n     ";

}  // namespace veltrane

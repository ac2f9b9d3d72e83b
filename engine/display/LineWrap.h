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
/// What ends a line that goes on: the line break and the continuation's indent.
inline constexpr std::string_view kLineWrap = "\n     ";

}  // namespace veltrane

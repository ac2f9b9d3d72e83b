// SPDX-License-Identifier: Apache-2.0
#pragma once

// The single-pass layout of UTF-8 records behind RenderDecodedDisplayText,
// and how both decoded layouts show what is not text.

#include <cstddef>
#include <string>

#include "iso2709/RecordFields.h"

namespace veltrane {

// Controls show as pictures: C0 controls as U+2400-U+241F, DEL as U+2421.
inline constexpr char32_t kControlPictures = 0x2400;
inline constexpr char32_t kDeletePicture = 0x2421;

/// Appends the decoded display text of a UTF-8 record to out in one pass over
/// its bytes; returns its invalid bytes. It gives exactly what
/// RenderDecodedDisplayTextByRuns gives for Charset::Utf8.
std::size_t LayOutUtf8Record(const RecordFields& record, unsigned char fieldTerminator,
                             unsigned char subfieldDelimiter, std::string& out);

}  // namespace veltrane

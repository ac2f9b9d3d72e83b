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
/// Non-sorting marks around text a sort skips (an article: "Ada <of>"):
/// U+0098 and U+009C in MARC 21, U+0088 and U+0089 in UNIMARC and CNMARC
/// (MARC-8 0x88 and 0x89 decode to them). The decoded display shows the start
/// as U+27E6 and the end as U+27E7, one column each like the U+FFFD shown for
/// any other C1 control.
inline constexpr char32_t kNonSortingStartShown = 0x27E6;  // ⟦
inline constexpr char32_t kNonSortingEndShown = 0x27E7;    // ⟧
/// What the decoded display shows for a C1 control (U+0080-U+009F).
[[nodiscard]] constexpr char32_t ShownC1Control(char32_t cp)
{
    if (cp == 0x98 || cp == 0x88)
        return kNonSortingStartShown;
    if (cp == 0x9C || cp == 0x89)
        return kNonSortingEndShown;
    return 0xFFFD;
}

/// Appends the decoded display text of a UTF-8 record to out in one pass over
/// its bytes; returns its invalid bytes. It gives exactly what
/// RenderDecodedDisplayTextByRuns gives for Charset::Utf8.
std::size_t LayOutUtf8Record(const RecordFields& record, unsigned char fieldTerminator,
                             unsigned char subfieldDelimiter, std::string& out);

}  // namespace veltrane

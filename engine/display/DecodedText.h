// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>

#include "charset/Charset.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

/// Display text of one record decoded to UTF-8: the byte layout's lines (tag,
/// then the field with '$' for a subfield delimiter before a letter or digit,
/// one line per field), wrapped at 77 display columns (East Asian wide and
/// full-width characters count 2, combining marks and format characters 0)
/// with five-space continuation lines. A line breaks after a space that
/// starts in its last 15 columns when there is one (words stay whole), and
/// never between '$' and its subfield code. A break never falls inside a
/// character, never parts a combining mark from its base (only a run of
/// spacing marks wider than a whole line is broken between code points), so no
/// line is wider than 77 columns. Every line, the last included, ends with
/// '\n'; a wrap that falls exactly at a field's end makes no empty
/// continuation line. Each text run (tag, subfield, the bytes between
/// delimiters) is decoded on its own, so MARC-8 escapes start afresh in each.
/// Controls show as pictures: C0 controls as U+2400-U+241F (NUL as U+2400,
/// a lone subfield delimiter as U+241F), DEL as U+2421, C1 controls as U+FFFD
/// (not counted as invalid). invalidBytes counts the bytes not valid in the
/// set (U+FFFD stands for each such byte, or in UTF-8 for each maximal
/// ill-formed subpart).
struct DecodedDisplay {
    std::string text;
    std::size_t invalidBytes = 0;
};
[[nodiscard]] DecodedDisplay RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                                      unsigned char fieldTerminator, unsigned char subfieldDelimiter);
/// The same text appended to out (whose buffer a caller may use again from
/// record to record); returns invalidBytes.
std::size_t RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                     unsigned char fieldTerminator, unsigned char subfieldDelimiter, std::string& out);
/// The same text made the general way for every set: each run decoded
/// through the codec, then each line laid out. UTF-8 records take a single
/// pass over their bytes instead, which must give exactly this.
std::size_t RenderDecodedDisplayTextByRuns(TextCodec& codec, Charset charset, const RecordFields& record,
                                           unsigned char fieldTerminator, unsigned char subfieldDelimiter,
                                           std::string& out);

}  // namespace veltrane

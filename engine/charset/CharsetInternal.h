// SPDX-License-Identifier: Apache-2.0
#pragma once

// What engine/check reads records with that the rest of the engine does not:
// detection over fields where they stand in a block, and the facts one scan
// of a record's text gives the automatic rules. Only engine/charset,
// engine/check and engine/profile include this header.

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "charset/Charset.h"

namespace veltrane {

/// One field of a record where it stands: its tag and the bytes after it.
struct FieldView {
    std::string_view tag;
    std::span<const unsigned char> data;
};
/// The bytes of fields as runs: fields that follow one another, as most
/// records hold them, make one run.
void JoinFieldBytes(std::span<const FieldView> fields, std::vector<std::span<const unsigned char>>& pieces);
/// DetectCharset of the RecordFields a record would give whose fields are
/// these, without copying them: every tag must be three ASCII letters or
/// digits and every field must end with an ASCII byte that is neither a digit
/// nor ESC (its terminator). `pieces` is scratch of the caller.
[[nodiscard]] CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader,
                                            std::span<const FieldView> fields,
                                            std::vector<std::span<const unsigned char>>& pieces);
/// ChooseCharset of the RecordFields a record would give whose fields are
/// these, under the same conditions as DetectCharset above; the fields'
/// bytes are left joined in `pieces` for TellCharset below.
[[nodiscard]] CharsetDecision ChooseCharset(CharsetSetting setting, std::span<const unsigned char, kLeaderLength> leader,
                                            std::span<const FieldView> fields,
                                            std::vector<std::span<const unsigned char>>& pieces);
/// TellCharset of the RecordFields a record would give whose fields' bytes
/// JoinFieldBytes has joined into `joined`, under the same conditions as
/// DetectCharset above.
[[nodiscard]] ToldCharset TellCharset(CharsetSetting setting, const CharsetDecision& decision,
                                      std::span<const unsigned char, kLeaderLength> leader,
                                      std::span<const std::span<const unsigned char>> joined);
/// What one pass over a record's text tells a record check: the count
/// TextCodec::countInvalid gives for GBK, and what the automatic rules look
/// for in it.
struct TextScan {
    std::size_t invalidGbk = 0;
    bool high = false;             ///< a byte 0x80 or above
    bool escape = false;           ///< an ESC, which starts a MARC-8 set change
    bool highBeforeDigit = false;  ///< a high byte followed by an ASCII digit, as in a GB18030 four-byte form
};
/// What the TextScans of all the fields of a record found, so that the
/// automatic rules need not scan the bytes again for them.
struct CharsetHints {
    bool escape = false;
    bool highBeforeDigit = false;
};
/// DetectCharset of fields where they stand, whose bytes JoinFieldBytes has
/// joined into `joined`, given the CharsetHints of those bytes.
[[nodiscard]] CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader,
                                            std::span<const FieldView> fields,
                                            std::span<const std::span<const unsigned char>> joined,
                                            const CharsetHints& hints);
}  // namespace veltrane

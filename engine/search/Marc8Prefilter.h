// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "search/RecordSearch.h"

namespace veltrane {

/// What the raw bytes of MARC-8 text must show for its decoded form to hold a
/// search text, so that only the bytes that may hold it are decoded:
/// - the decoded text holds an ASCII run of the search text only where the
///   raw bytes hold it, less its last byte (a combining mark stands before the
///   letter it marks) and less the bytes that may stand in a tag, unless an
///   escape changes the character sets or a ligature's or double tilde's
///   second half (0xEC, 0xFB), which decodes to nothing, follows an ASCII
///   byte;
/// - a text without ASCII but with ideographs, kana or Hangul needs an escape;
/// - any other text may lie in any bytes.
class Marc8Prefilter {
public:
    /// `text` as MARC-8 text is compared with it (composed, folded unless case
    /// counts, "$a" turned into the delimiter).
    Marc8Prefilter(std::string_view text, const SearchQuery& query);

    /// Whether any bytes may hold the text.
    [[nodiscard]] bool passesAll() const { return m_passesAll; }
    /// The ASCII run the raw bytes hold wherever no break stands; nothing when
    /// the text has none.
    [[nodiscard]] const std::optional<RecordMatcher>& needle() const { return m_needle; }

    /// Whether the n raw bytes (a field's data, or a whole record) may decode
    /// to text that holds the search text.
    [[nodiscard]] bool mayHold(const unsigned char* bytes, std::size_t n) const;

private:
    std::optional<RecordMatcher> m_needle;
    bool m_passesAll = false;
};

/// The first position in bytes[from, n) that breaks an ASCII run of MARC-8
/// text as it decodes (an escape, or 0xEC or 0xFB after an ASCII byte, which
/// may stand before from); n when none.
[[nodiscard]] std::size_t FirstAsciiRunBreak(const unsigned char* bytes, std::size_t n, std::size_t from = 0);

}  // namespace veltrane

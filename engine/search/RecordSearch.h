// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <string>
#include <string_view>

#include "charset/Charset.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

/// Bytes the search pattern buffer holds; a search text may have one fewer.
inline constexpr std::size_t kPatternBufferSize = 256;
inline constexpr std::size_t kMaxSearchTextLength = kPatternBufferSize - 1;

/// What a find looks for.
struct SearchQuery {
    /// The bytes searched for, as they stand in the records (GBK for GBK
    /// records); "$a" names subfield a in every delimiter variant. At most
    /// kMaxSearchTextLength bytes are taken.
    std::string pattern;
    bool caseSensitive = false;  ///< otherwise ASCII letters match either case
    DelimiterMode delimiterMode = dmNormal;
    /// Three tag bytes: a match must lie within a field with this tag; empty
    /// for any field.
    std::string tag;
    /// The text as typed (UTF-8), compared with each record in the record's
    /// own character set; when empty, `pattern` is compared byte for byte in
    /// every record.
    std::string text;
    CharsetSetting charset = CharsetSetting::Auto;
};

/// A prepared search pattern; each object owns its buffers, so searches on
/// several threads never share one.
class RecordMatcher {
public:
    /// The query's pattern bytes, cut at kMaxSearchTextLength.
    explicit RecordMatcher(const SearchQuery& query);
    /// Pattern bytes of any length.
    RecordMatcher(std::string_view pattern, bool caseSensitive, DelimiterMode delimiterMode, std::string tag);

    [[nodiscard]] bool empty() const { return m_length == 0; }
    /// The pattern bytes as given (before '$' and case are applied).
    [[nodiscard]] const std::string& pattern() const { return m_given; }

    /// Whether the pattern may occur in the raw record: a cheap test that
    /// never says no when matchIn would find it. `base` is the leader's base
    /// address.
    [[nodiscard]] bool mayHold(const unsigned char* record, std::size_t length, std::uint32_t base) const;

    /// The index of the first field (in directory order) that holds the
    /// pattern: a match lies within one entry's tag and field bytes and never
    /// includes the entry's last byte (the field terminator); it may start in
    /// the tag. Nothing when no field does (or the pattern is empty).
    [[nodiscard]] std::optional<std::size_t> matchIn(const RecordFields& fields) const;

    /// Whether the pattern lies within the n bytes (the same answer as
    /// comparing it at every alignment).
    [[nodiscard]] bool occursIn(const unsigned char* bytes, std::size_t n) const;
    /// Where the pattern first starts within the n bytes; nothing when it does
    /// not lie within them.
    [[nodiscard]] std::optional<std::size_t> firstIn(const unsigned char* bytes, std::size_t n) const;

private:
    /// The byte values a candidate alignment must show at its first and at
    /// its last position (one value, or both letter cases).
    struct CandidateBytes {
        unsigned char first, firstOtherCase, last, lastOtherCase;
    };

    [[nodiscard]] bool mayStartInTags(const unsigned char* directory, std::size_t n) const;
    [[nodiscard]] unsigned char fold(unsigned char b) const { return m_caseSensitive ? b : FoldUpper(b); }
    [[nodiscard]] bool matchesAt(const unsigned char* bytes) const;

    std::string m_given;
    std::basic_string<unsigned char> m_pattern;
    std::size_t m_length = 0;
    bool m_caseSensitive;
    std::string m_tag;
    CandidateBytes m_wholePattern{};  ///< the two probe bytes, each in both cases
    std::pair<std::size_t, std::size_t> m_probe{};  ///< where they stand in the pattern
    CandidateBytes m_firstByte{};
};

}  // namespace veltrane

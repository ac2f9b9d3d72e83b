// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/RecordFields.h"
#include "search/Marc8Prefilter.h"
#include "search/RecordSearch.h"

namespace veltrane {

/// A search query ready to be compared with records, each record in its own
/// character set: the typed text is encoded in GBK, GB18030 and UTF-8 and
/// compared as bytes with records in those sets, and compared as text with
/// MARC-8 records once they are decoded (MARC-8 escapes once before a run of
/// characters, not before each). A character a set cannot hold never matches
/// in a record of that set. Without a typed text, the pattern bytes are
/// compared in every record. Each object owns its buffers and converters: use
/// one per thread.
class QueryMatcher {
public:
    explicit QueryMatcher(const SearchQuery& query);

    [[nodiscard]] bool empty() const { return m_empty; }

    /// The index of the first field of the record (its `length` bytes, all
    /// readable) that holds the query, taking the record apart into fields
    /// when it may; nothing when no field does. After a match, fields holds
    /// the record.
    [[nodiscard]] std::optional<std::size_t> match(const unsigned char* record, std::size_t length,
                                                   RecordFields& fields);

    /// The byte patterns compared with records (each before '$' and case are
    /// applied), whatever the sets they serve.
    [[nodiscard]] std::vector<std::string_view> bytePatterns() const;
    /// Whether some records are compared as decoded MARC-8 text, and that text
    /// (composed, folded unless case counts, "$a" turned into the delimiter).
    [[nodiscard]] bool searchesMarc8() const { return m_searchMarc8; }
    [[nodiscard]] const std::string& marc8Text() const { return m_marc8Text; }
    /// What raw MARC-8 bytes must show to hold that text (set when
    /// searchesMarc8()).
    [[nodiscard]] const std::optional<Marc8Prefilter>& marc8Prefilter() const { return m_marc8Prefilter; }

private:
    /// One byte pattern and the sets whose records it is compared with.
    struct EncodedPattern {
        RecordMatcher matcher;
        unsigned sets;  ///< bits of Charset values
    };

    [[nodiscard]] bool mayBeMarc8(const unsigned char* record, std::size_t length, std::uint32_t base);
    /// Reads the record's directory once for both the MARC-8 test and the fields.
    void readFields(const unsigned char* record, std::size_t length);
    [[nodiscard]] std::optional<std::size_t> matchDecoded(const RecordFields& fields);

    CharsetSetting m_setting;
    bool m_empty = true;
    std::vector<EncodedPattern> m_patterns;
    bool m_searchMarc8 = false;
    std::string m_marc8Text;  ///< the text as MARC-8 records are compared with it (folded, delimiters set)
    std::optional<Marc8Prefilter> m_marc8Prefilter;
    std::string m_rawField;  ///< a field's tag and data bytes back to back, as the prefilter reads them
    bool m_caseSensitive;
    unsigned char m_subfieldDelimiter;
    std::string m_tag;
    TextCodec m_codec;
    std::string m_decoded;
    Iso2709Reader m_reader;
    bool m_fieldsRead = false;  ///< m_reader holds the record of the current match
};

}  // namespace veltrane

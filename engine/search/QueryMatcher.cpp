// SPDX-License-Identifier: Apache-2.0
#include "search/QueryMatcher.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "charset/UnicodeCompose.h"
#include "charset/Utf8.h"
#include "search/SearchText.h"

namespace veltrane {

namespace {

constexpr unsigned char kEscape = 0x1B;  // starts a MARC-8 escape sequence
constexpr std::size_t kLeaderCodingScheme = 9;

constexpr unsigned setBit(Charset charset) { return 1u << static_cast<unsigned>(charset); }

/// The sets a setting may give a record.
unsigned possibleSets(CharsetSetting setting)
{
    switch (setting) {
    case CharsetSetting::Gbk: return setBit(Charset::Gbk);
    case CharsetSetting::Gb18030: return setBit(Charset::Gb18030);
    case CharsetSetting::Utf8: return setBit(Charset::Utf8);
    case CharsetSetting::Marc8: return setBit(Charset::Marc8);
    case CharsetSetting::Auto: break;
    }
    return setBit(Charset::Gbk) | setBit(Charset::Gb18030) | setBit(Charset::Utf8) | setBit(Charset::Marc8);
}

/// "$a" names subfield a in every delimiter variant; any other '$' is the
/// literal byte. Letters are folded to upper case unless case counts.
std::string comparable(std::string text, unsigned char subfieldDelimiter, bool caseSensitive)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '$' && IsAsciiLetterOrDigit(static_cast<unsigned char>(text[i + 1])))
            text[i] = static_cast<char>(subfieldDelimiter);
    }
    if (!caseSensitive) {
        for (char& c : text)
            c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

QueryMatcher::QueryMatcher(const SearchQuery& query)
    : m_setting(query.charset),
      m_caseSensitive(query.caseSensitive),
      m_subfieldDelimiter(SubfieldDelimiter(query.delimiterMode)),
      m_tag(query.tag)
{
    if (query.text.empty()) {
        // The bytes as given, in every record whatever its set.
        m_patterns.push_back({RecordMatcher(query), ~0u});
        m_empty = m_patterns.front().matcher.empty();
        return;
    }
    const unsigned sets = possibleSets(query.charset);
    for (Charset charset : {Charset::Gbk, Charset::Gb18030, Charset::Utf8}) {
        if ((sets & setBit(charset)) == 0)
            continue;
        const std::optional<std::string> bytes = SearchTextIn(m_codec, charset, query.text).bytes;
        if (!bytes || bytes->empty())
            continue;
        // Text the sets write alike (ASCII, most often) is compared once.
        auto same = std::find_if(m_patterns.begin(), m_patterns.end(), [&](const EncodedPattern& p) {
            return p.matcher.pattern() == *bytes;
        });
        if (same != m_patterns.end())
            same->sets |= setBit(charset);
        else
            m_patterns.push_back({RecordMatcher(*bytes, query.caseSensitive, query.delimiterMode, query.tag),
                                  setBit(charset)});
    }
    m_searchMarc8 = (sets & setBit(Charset::Marc8)) != 0;
    std::string text = query.text;
    ComposeCanonically(text);
    m_marc8Text = comparable(std::move(text), m_subfieldDelimiter, m_caseSensitive);
    if (m_searchMarc8)
        m_marc8Prefilter.emplace(m_marc8Text, query);
    m_empty = m_patterns.empty() && !m_searchMarc8;
}

// Whether the automatic rules could read the record as MARC-8, judged from
// its raw bytes: it holds an escape (rule 4), or its leader declares no
// Unicode and it is a MARC 21 record with a 245 or 008 field, high bytes and
// no UNIMARC field 100 (rule 5). A record the rules cannot read as MARC-8
// needs no decoding to be searched. The cheap tests go first: most records
// fail on the leader or the directory.
bool QueryMatcher::mayBeMarc8(const unsigned char* record, std::size_t length, std::uint32_t base)
{
    if (m_setting == CharsetSetting::Marc8)
        return true;
    if (!m_searchMarc8)
        return false;
    const std::size_t dataStart = std::min<std::size_t>(std::max<std::size_t>(base, kLeaderLength), length);
    if (std::memchr(record + kLeaderLength, kEscape, length - std::min(length, kLeaderLength)) != nullptr)
        return true;
    if (record[kLeaderCodingScheme] != ' ')
        return false;
    readFields(record, length);
    const std::span<const IsoField> fields = m_reader.fields();
    if (std::none_of(fields.begin(), fields.end(),
                     [](const IsoField& f) { return f.tag == "245" || f.tag == "008"; }))
        return false;
    if (std::none_of(record + dataStart, record + length, [](unsigned char b) { return b >= 0x80; }))
        return false;
    return std::none_of(fields.begin(), fields.end(),
                        [](const IsoField& f) { return f.tag == "100" && IsUnimarcGeneralData(f.data); });
}

void QueryMatcher::readFields(const unsigned char* record, std::size_t length)
{
    if (m_fieldsRead)
        return;
    m_reader.read({record, length});
    m_fieldsRead = true;
}

std::optional<std::size_t> QueryMatcher::match(const unsigned char* record, std::size_t length, RecordFields& fields)
{
    if (m_empty)
        return std::nullopt;
    const std::uint32_t base = ParseDigits(record + kBaseAddressOffset, 5);
    unsigned mayHold = 0;
    for (const EncodedPattern& p : m_patterns) {
        if (p.matcher.mayHold(record, length, base))
            mayHold |= p.sets;
    }
    m_fieldsRead = false;
    const bool marc8 = mayBeMarc8(record, length, base);
    if (mayHold == 0 && !marc8)
        return std::nullopt;
    readFields(record, length);
    fields.assemble(m_reader);
    if (m_patterns.size() == 1 && m_patterns.front().sets == ~0u)
        return m_patterns.front().matcher.matchIn(fields);
    const Charset charset = ChooseCharset(m_setting, fields).charset;
    if (charset == Charset::Marc8)
        return m_searchMarc8 ? matchDecoded(fields) : std::nullopt;
    if ((mayHold & setBit(charset)) == 0)
        return std::nullopt;
    for (const EncodedPattern& p : m_patterns) {
        if ((p.sets & setBit(charset)) != 0)
            return p.matcher.matchIn(fields);
    }
    return std::nullopt;
}

std::vector<std::string_view> QueryMatcher::bytePatterns() const
{
    std::vector<std::string_view> patterns;
    for (const EncodedPattern& p : m_patterns)
        patterns.emplace_back(p.matcher.pattern());
    return patterns;
}

std::optional<std::size_t> QueryMatcher::matchDecoded(const RecordFields& fields)
{
    const std::span<const FieldSpan> entries = fields.fields();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!m_tag.empty() && fields.tag(i) != m_tag)
            continue;
        // As with bytes: the tag and the field, never its last byte (the
        // terminator); each run between subfield delimiters decoded afresh.
        const std::size_t searchable = std::min(kTagLength + entries[i].declaredLength - 1, entries[i].length);
        const std::string_view tag = fields.tag(i);
        const std::span<const unsigned char> data =
            fields.data(i).first(searchable > kTagLength ? searchable - kTagLength : 0);
        // Only a field whose raw bytes may hold the text is decoded.
        m_rawField.assign(tag.begin(), tag.end());
        m_rawField.append(reinterpret_cast<const char*>(data.data()), data.size());
        if (!m_marc8Prefilter->mayHold(reinterpret_cast<const unsigned char*>(m_rawField.data()), m_rawField.size()))
            continue;
        m_decoded.assign(tag.begin(), tag.end());
        std::size_t runStart = 0;
        for (std::size_t k = 0; k <= data.size(); ++k) {
            if (k < data.size() && data[k] != m_subfieldDelimiter)
                continue;
            (void)m_codec.decode(Charset::Marc8, data.subspan(runStart, k - runStart), m_decoded);
            if (k < data.size())
                m_decoded += static_cast<char>(m_subfieldDelimiter);
            runStart = k + 1;
        }
        ComposeCanonically(m_decoded);
        if (!m_caseSensitive) {
            for (char& c : m_decoded)
                c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
        }
        if (m_decoded.find(m_marc8Text) != std::string::npos)
            return i;
    }
    return std::nullopt;
}

}  // namespace veltrane

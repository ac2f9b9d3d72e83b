// SPDX-License-Identifier: Apache-2.0
#include "iso2709/MarcRecord.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <tuple>

#include "charset/ByteWords.h"
#include "charset/Utf8.h"

namespace veltrane {

namespace {

constexpr std::size_t kUnimarcCharsetEnd = kUnimarcCharsetOffset + kUnimarcUtf8.size();

std::string_view asText(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string tagText(std::string_view tag)
{
    std::string text;
    for (char c : tag)
        text += (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) ? c : '?';
    return text;
}

}  // namespace

std::int64_t ReplacementCount(std::string_view problem)
{
    if (!problem.ends_with(kReplacementNoteEnd))
        return 0;
    std::int64_t count = 0;
    for (std::size_t i = 0; i < problem.size() && problem[i] >= '0' && problem[i] <= '9'; ++i)
        count = count * 10 + (problem[i] - '0');
    return count;
}

void MarcRecord::clear()
{
    m_text.clear();
    m_leader = m_leaderLength = 0;
    m_fieldCount = 0;
    m_subfieldCount = 0;
    m_problems.clear();
}

void MarcRecord::setLeader(std::string_view leader)
{
    m_leader = append(leader);
    m_leaderLength = leader.size();
}

void MarcRecord::addControlField(std::string_view tag, std::string_view value)
{
    if (m_fieldCount == m_fields.size())
        m_fields.emplace_back();
    Field& f = m_fields[m_fieldCount++];
    f = Field{};
    f.control = true;
    f.tag = append(tag);
    f.tagLength = tag.size();
    f.value = append(value);
    f.valueLength = value.size();
}

void MarcRecord::addDataField(std::string_view tag, std::string_view indicator1, std::string_view indicator2)
{
    if (m_fieldCount == m_fields.size())
        m_fields.emplace_back();
    Field& f = m_fields[m_fieldCount++];
    f = Field{};
    f.tag = append(tag);
    f.tagLength = tag.size();
    f.indicator1 = append(indicator1);
    f.indicator1Length = indicator1.size();
    f.indicator2 = append(indicator2);
    f.indicator2Length = indicator2.size();
    f.firstSubfield = m_subfieldCount;
}

void MarcRecord::addSubfield(std::string_view code, std::string_view value)
{
    if (m_fieldCount == 0 || m_fields[m_fieldCount - 1].control)
        return;
    if (code.empty()) {
        addProblem("field " + tagText(tag(m_fields[m_fieldCount - 1])) + " has a subfield with no code: left out");
        return;
    }
    if (m_subfieldCount == m_subfields.size())
        m_subfields.emplace_back();
    Subfield& s = m_subfields[m_subfieldCount++];
    s.code = append(code);
    s.codeLength = code.size();
    s.value = append(value);
    s.valueLength = value.size();
    ++m_fields[m_fieldCount - 1].subfieldCount;
}

void MarcRecord::setLeaderByte(std::size_t position, char value)
{
    if (position < m_leaderLength)
        m_text[m_leader + position] = value;
}

std::size_t MarcRecord::replaceDataBytes(std::string_view bytes, char with)
{
    std::size_t replaced = 0;
    auto replaceIn = [&](std::size_t at, std::size_t n) {
        for (std::size_t i = at; i < at + n; ++i)
            if (bytes.find(m_text[i]) != std::string_view::npos) {
                m_text[i] = with;
                ++replaced;
            }
    };
    for (const Field& f : fields()) {
        if (f.control) {
            replaceIn(f.value, f.valueLength);
            continue;
        }
        replaceIn(f.indicator1, f.indicator1Length);
        replaceIn(f.indicator2, f.indicator2Length);
        for (const Subfield& s : subfields(f))
            replaceIn(s.value, s.valueLength);
    }
    return replaced;
}

std::size_t MarcRecord::narrowIndicators(char with)
{
    std::size_t replaced = 0;
    for (Field& f : std::span<Field>(m_fields.data(), m_fieldCount)) {
        if (f.control)
            continue;
        for (auto [at, length] : {std::tie(f.indicator1, f.indicator1Length), std::tie(f.indicator2, f.indicator2Length)})
            if (length > 1) {
                m_text[at] = with;
                length = 1;
                ++replaced;
            }
    }
    return replaced;
}

std::string_view MarcRecord::controlNumber() const
{
    for (const Field& f : fields())
        if (f.control && tag(f) == "001")
            return value(f);
    return {};
}

/// Turns the lenient reader's fields into a MarcRecord, decoding as it goes.
class MarcRecordBuilder {
public:
    MarcRecordBuilder(const MarcReadOptions& options, TextCodec& codec, MarcRecord& out)
        : m_options(options), m_codec(codec), m_out(out)
    {
    }

    void build(const RecordFields& fields, std::uint32_t declaredLength, std::size_t available,
               std::span<const RecordProblem> structural)
    {
        m_out.clear();
        // Kept bytes need the set too: it says how many bytes an indicator or
        // a subfield code takes.
        m_charset = ChooseCharset(m_options.charset, fields).charset;
        buildLeader(fields.leader());
        if (available < declaredLength)
            tell({"truncated"}, "the file ends inside the record (" + std::to_string(available) + " of " +
                             std::to_string(declaredLength) + " bytes)");
        const std::size_t listed = fields.listedEntries();
        if (fields.fields().size() < listed)
            tell({"field-outside", "truncated"}, std::to_string(listed - fields.fields().size()) +
                             " directory entries lie outside the record and are left out");
        for (std::size_t i = 0; i < fields.fields().size(); ++i)
            buildField(fields, i);
        // What the reading above tells in its own words is not told twice.
        for (const RecordProblem& problem : structural)
            if (!toldWhileBuilding(problem.code))
                m_out.addProblem(problem.description);
        if (m_invalid > 0)
            m_out.addProblem(std::to_string(m_invalid) + " bytes invalid in " + std::string(CharsetName(m_charset)) +
                             "," + std::string(kReplacementNoteEnd));
        // Text now in UTF-8 says so the way its format does: UNIMARC in its
        // general data, MARC 21 in the leader.
        if (m_options.decode && m_options.flagUtf8 && (m_options.forceUtf8Flag || m_changed)) {
            if (IsUnimarcShaped(fields))
                declareUtf8InGeneralData();
            else if (m_out.leader().size() > kCharacterCodingOffset)
                m_out.m_text[m_out.m_leader + kCharacterCodingOffset] = kUtf8Coding;
        }
    }

private:
    /// Notes a problem of the kind `check` tells with these codes: the
    /// reader's own words for them are then not told again.
    void tell(std::initializer_list<std::string_view> codes, std::string problem)
    {
        m_out.addProblem(std::move(problem));
        for (std::string_view code : codes)
            if (!toldWhileBuilding(code) && m_toldCount < m_told.size())
                m_told[m_toldCount++] = code;
    }
    bool toldWhileBuilding(std::string_view code) const
    {
        return std::find(m_told.begin(), m_told.begin() + m_toldCount, code) != m_told.begin() + m_toldCount;
    }

    /// Sets the character set of the UNIMARC general data, 100 $a/26-27, to
    /// "50" (ISO 10646): in the first field 100 whose first $a starts the
    /// UNIMARC way and reaches that far in ASCII.
    void declareUtf8InGeneralData()
    {
        for (const MarcRecord::Field& field : m_out.fields()) {
            if (field.control || m_out.tag(field) != "100")
                continue;
            for (const MarcRecord::Subfield& sub : m_out.subfields(field)) {
                if (m_out.code(sub) != "a")
                    continue;
                const std::string_view a = m_out.value(sub);
                if (a.size() < kUnimarcCharsetEnd || !IsUnimarcGeneralData(subfieldBytes(sub)) ||
                    !std::all_of(a.begin(), a.begin() + kUnimarcCharsetEnd,
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
                    break;
                m_out.m_text.replace(sub.value + kUnimarcCharsetOffset, kUnimarcUtf8.size(), kUnimarcUtf8);
                return;
            }
        }
    }

    /// A subfield of the record built as field bytes (delimiter, code, value)
    /// as IsUnimarcGeneralData reads them.
    std::span<const unsigned char> subfieldBytes(const MarcRecord::Subfield& sub)
    {
        m_scratch.assign(1, static_cast<char>(kStandardSubfieldDelimiter));
        m_scratch += m_out.code(sub);
        m_scratch += m_out.value(sub);
        return {reinterpret_cast<const unsigned char*>(m_scratch.data()), m_scratch.size()};
    }

    /// Appends the text form of bytes to the record's buffer; returns where it starts.
    std::pair<std::size_t, std::size_t> put(std::span<const unsigned char> bytes)
    {
        std::string& text = m_out.m_text;
        const std::size_t at = text.size();
        if (!m_options.decode || IsAsciiWithoutEscape(bytes)) {
            text.append(asText(bytes));
        } else {
            m_invalid += m_codec.decode(m_charset, bytes, text);
            if (!m_changed)
                m_changed = text.size() - at != bytes.size() || std::memcmp(text.data() + at, bytes.data(), bytes.size()) != 0;
        }
        return {at, text.size() - at};
    }

    void buildLeader(std::span<const unsigned char, kLeaderLength> leader)
    {
        std::string& text = m_out.m_text;
        m_out.m_leader = text.size();
        std::size_t replaced = 0;
        for (unsigned char b : leader) {
            // The leader is 24 single bytes in every format; a byte that is no
            // ASCII character cannot stay one once decoded.
            if (m_options.decode && b >= 0x80) {
                b = '?';
                ++replaced;
            }
            text += static_cast<char>(b);
        }
        m_out.m_leaderLength = kLeaderLength;
        if (replaced > 0)
            tell({"leader-characters"}, std::to_string(replaced) + " leader bytes are not ASCII, written as '?'");
    }

    void buildField(const RecordFields& fields, std::size_t i)
    {
        const std::string_view tag = fields.tag(i);
        if (tag.size() < kTagLength) {
            m_out.addProblem("a field was cut off inside its tag and is left out");
            return;
        }
        const std::string shownTag = tagText(tag);
        std::span<const unsigned char> data = fields.data(i);
        const FieldSpan& span = fields.fields()[i];
        if (span.length - kTagLength < span.declaredLength)
            tell({"field-outside", "truncated"}, "field " + shownTag + " is cut short (" + std::to_string(span.length - kTagLength) +
                             " of " + std::to_string(span.declaredLength) + " bytes)");
        const unsigned char terminator = FieldTerminator(m_options.mode);
        const auto end = std::find(data.begin(), data.end(), terminator);
        if (end == data.end()) {
            if (span.length - kTagLength >= span.declaredLength)
                tell({"field-terminator"}, "field " + shownTag + " does not end with its terminator");
        } else if (end + 1 != data.end()) {
            m_out.addProblem("field " + shownTag + ": " + std::to_string(data.end() - end - 1) +
                             " bytes after its terminator are left out");
        }
        std::span<const unsigned char> body = data.first(static_cast<std::size_t>(end - data.begin()));

        const auto [tagAt, tagLength] = put({reinterpret_cast<const unsigned char*>(tag.data()), tag.size()});
        auto& field = nextField();
        field.tag = tagAt;
        field.tagLength = tagLength;
        if (IsControlTag(tag)) {
            field.control = true;
            std::tie(field.value, field.valueLength) = put(body);
            return;
        }
        const std::size_t first = SplitSubfields(body, m_options.mode, m_subfields).size();
        // Indicators and subfield codes are one character each: in UTF-8 a
        // character may take more than one byte.
        const std::size_t unit1 = std::min(unitLength(body, 0), first);
        const std::size_t unit2 = std::min(unitLength(body, unit1), first - unit1);
        const std::size_t indicators = (unit1 > 0 ? 1 : 0) + (unit2 > 0 ? 1 : 0);
        if (indicators < 2)
            tell({"indicators"}, "field " + shownTag + " has " + std::to_string(indicators) + " indicators, not 2");
        else if (first > unit1 + unit2)
            tell({"indicators"}, "field " + shownTag + ": " + std::to_string(first - unit1 - unit2) +
                             " bytes between the indicators and the first subfield are left out");
        static constexpr unsigned char kBlank[] = {' '};
        std::tie(field.indicator1, field.indicator1Length) = put(unit1 > 0 ? body.subspan(0, unit1) : kBlank);
        std::tie(field.indicator2, field.indicator2Length) = put(unit2 > 0 ? body.subspan(unit1, unit2) : kBlank);
        field.firstSubfield = m_out.m_subfieldCount;
        std::size_t empty = 0;
        for (const IsoSubfield& s : m_subfields) {
            // No format can hold a subfield without a code (MARCXML's schema
            // forbids code=""): it is left out.
            if (s.code.empty()) {
                ++empty;
                continue;
            }
            // Code and value are one run: a code of one UTF-8 character may
            // take more than the byte after the delimiter.
            const std::span<const unsigned char> run(s.code.data(), s.code.size() + s.value.size());
            const std::size_t code = unitLength(run, 0);
            auto& sub = nextSubfield();
            ++m_out.m_fields[m_out.m_fieldCount - 1].subfieldCount;
            std::tie(sub.code, sub.codeLength) = put(run.first(code));
            std::tie(sub.value, sub.valueLength) = put(run.subspan(code));
        }
        if (empty > 0)
            tell({"empty-subfield"}, "field " + shownTag + " has " +
                             (empty == 1 ? "a subfield delimiter" : std::to_string(empty) + " subfield delimiters") +
                             " with no code: left out");
    }

    /// Bytes of the character at body[at]: a whole well-formed UTF-8 sequence
    /// when the record is in UTF-8, else one byte; 0 at the end.
    std::size_t unitLength(std::span<const unsigned char> body, std::size_t at) const
    {
        if (at >= body.size())
            return 0;
        if (m_charset != Charset::Utf8)
            return 1;
        return std::max<std::size_t>(Utf8SequenceAt(body, at).length, 1);
    }

    MarcRecord::Field& nextField()
    {
        if (m_out.m_fieldCount == m_out.m_fields.size())
            m_out.m_fields.emplace_back();
        MarcRecord::Field& f = m_out.m_fields[m_out.m_fieldCount++];
        f = MarcRecord::Field{};
        return f;
    }

    MarcRecord::Subfield& nextSubfield()
    {
        if (m_out.m_subfieldCount == m_out.m_subfields.size())
            m_out.m_subfields.emplace_back();
        return m_out.m_subfields[m_out.m_subfieldCount++];
    }

    const MarcReadOptions& m_options;
    TextCodec& m_codec;
    MarcRecord& m_out;
    Charset m_charset = Charset::Gbk;
    std::string m_scratch;
    // A builder lives for one record: what it keeps from record to record
    // is the thread's, so that converting a file allocates nothing per record.
    static thread_local std::vector<IsoSubfield> m_subfields;
    std::array<std::string_view, 8> m_told{};  ///< codes of what this record's problems told
    std::size_t m_toldCount = 0;
    std::size_t m_invalid = 0;
    bool m_changed = false;
};

thread_local std::vector<IsoSubfield> MarcRecordBuilder::m_subfields;

void BuildMarcRecord(const RecordFields& fields, std::uint32_t declaredLength, std::size_t available,
                     std::span<const RecordProblem> structural, const MarcReadOptions& options, TextCodec& codec,
                     MarcRecord& out)
{
    MarcRecordBuilder(options, codec, out).build(fields, declaredLength, available, structural);
}

}  // namespace veltrane

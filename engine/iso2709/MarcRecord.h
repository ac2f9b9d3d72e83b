// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

class MarcRecordBuilder;

/// One record as fields and subfields, the common ground of every format the
/// conversion reads and writes. Text (leader, tags, indicators, subfield codes
/// and values) is held in one buffer the object owns; an object is reused from
/// record to record so that converting a file allocates nothing per record once
/// the largest record has been seen. The text is UTF-8 unless the record was
/// built with its bytes kept as they are (ISO 2709 to ISO 2709).
class MarcRecord {
public:
    struct Field {
        std::size_t tag = 0, tagLength = 0;
        bool control = false;
        std::size_t value = 0, valueLength = 0;  ///< a control field's value
        std::size_t indicator1 = 0, indicator1Length = 0;
        std::size_t indicator2 = 0, indicator2Length = 0;
        std::size_t firstSubfield = 0, subfieldCount = 0;
    };
    struct Subfield {
        std::size_t code = 0, codeLength = 0;
        std::size_t value = 0, valueLength = 0;
    };

    /// Empties the record, keeping the memory for the next one.
    void clear();

    void setLeader(std::string_view leader);
    void addControlField(std::string_view tag, std::string_view value);
    void addDataField(std::string_view tag, std::string_view indicator1, std::string_view indicator2);
    /// Adds a subfield to the last data field (none when there is none); one
    /// with no code, which no format can hold, is left out as a problem.
    void addSubfield(std::string_view code, std::string_view value);
    /// Sets leader byte `position` (0-based); nothing when the leader is shorter.
    void setLeaderByte(std::size_t position, char value);
    /// Replaces each byte of `bytes` in the record's data (control field
    /// values, indicators, subfield values; not the leader, tags or codes)
    /// by `with`; returns how many were replaced.
    std::size_t replaceDataBytes(std::string_view bytes, char with);
    /// Replaces each indicator of more than one byte (a character of a
    /// multibyte set, which no ISO 2709 indicator can hold) by `with`;
    /// returns how many were replaced.
    std::size_t narrowIndicators(char with);
    /// Notes something the reader could not take whole; the record is then partial.
    void addProblem(std::string problem) { m_problems.push_back(std::move(problem)); }

    [[nodiscard]] std::string_view leader() const { return text(m_leader, m_leaderLength); }
    [[nodiscard]] std::span<const Field> fields() const { return {m_fields.data(), m_fieldCount}; }
    [[nodiscard]] std::string_view tag(const Field& f) const { return text(f.tag, f.tagLength); }
    [[nodiscard]] std::string_view value(const Field& f) const { return text(f.value, f.valueLength); }
    [[nodiscard]] std::string_view indicator1(const Field& f) const { return text(f.indicator1, f.indicator1Length); }
    [[nodiscard]] std::string_view indicator2(const Field& f) const { return text(f.indicator2, f.indicator2Length); }
    [[nodiscard]] std::span<const Subfield> subfields(const Field& f) const
    {
        return {m_subfields.data() + f.firstSubfield, f.subfieldCount};
    }
    [[nodiscard]] std::string_view code(const Subfield& s) const { return text(s.code, s.codeLength); }
    [[nodiscard]] std::string_view value(const Subfield& s) const { return text(s.value, s.valueLength); }

    [[nodiscard]] const std::vector<std::string>& problems() const { return m_problems; }
    [[nodiscard]] bool partial() const { return !m_problems.empty(); }
    /// The value of the first 001 field, or nothing.
    [[nodiscard]] std::string_view controlNumber() const;

private:
    friend class MarcRecordBuilder;  // decodes straight into m_text

    [[nodiscard]] std::string_view text(std::size_t at, std::size_t n) const { return {m_text.data() + at, n}; }
    std::size_t append(std::string_view bytes)
    {
        const std::size_t at = m_text.size();
        m_text.append(bytes);
        return at;
    }

    std::string m_text;
    std::size_t m_leader = 0, m_leaderLength = 0;
    std::vector<Field> m_fields;
    std::size_t m_fieldCount = 0;
    std::vector<Subfield> m_subfields;
    std::size_t m_subfieldCount = 0;
    std::vector<std::string> m_problems;
};

/// How a record read from ISO 2709 is turned into a MarcRecord.
struct MarcReadOptions {
    DelimiterMode mode = dmNormal;  ///< delimiter variant
    /// Decode the text to UTF-8 (else bytes are kept as they are).
    bool decode = true;
    CharsetSetting charset = CharsetSetting::Auto;
    /// Set leader byte 9 to 'a' (UTF-8) when decoding changed any byte of a
    /// MARC 21-shaped record, or always when forced.
    bool flagUtf8 = true;
    bool forceUtf8Flag = false;
};

/// A problem that only tells of characters written as U+FFFD (the record is
/// read whole) ends so, after their count at its start.
inline constexpr std::string_view kReplacementNoteEnd = " written as U+FFFD";
/// The characters a replacement note tells of; 0 for any other problem.
[[nodiscard]] std::int64_t ReplacementCount(std::string_view problem);

/// Builds `out` from the fields the lenient reader took from one record.
/// `declaredLength` and `available` tell whether the file ended inside the
/// record. Problems (fields cut short, missing terminators or indicators,
/// subfields with no code, left out, bytes invalid in the record's set) are
/// noted in `out`, and so are the reader's `structural` problems that the
/// building does not tell itself: a record `check` finds fault with is
/// converted as partial, and the other way round. Never fails.
void BuildMarcRecord(const RecordFields& fields, std::uint32_t declaredLength, std::size_t available,
                     std::span<const RecordProblem> structural, const MarcReadOptions& options, TextCodec& codec,
                     MarcRecord& out);

/// The leader byte that says the record is in UTF-8.
inline constexpr std::size_t kCharacterCodingOffset = 9;
inline constexpr char kUtf8Coding = 'a';  // 0x61

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the rule check looks up field after field, made fast: a set's field
// rules by tag number, each field's subfield codes as sets of bits, and the
// occurrences of each tag in a record.

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "rules/RuleTables.h"

namespace veltrane::rules {

/// A set of byte values.
class ByteSet {
public:
    void insert(unsigned char b) { m_words[b >> 6] |= std::uint64_t{1} << (b & 63); }
    [[nodiscard]] bool contains(unsigned char b) const { return ((m_words[b >> 6] >> (b & 63)) & 1) != 0; }

private:
    std::array<std::uint64_t, 4> m_words{};
};

/// Three ASCII digits as a number (0-999); -1 for any other tag.
[[nodiscard]] int TagNumber(std::string_view tag);

/// A rule set's tables indexed for the check: it answers as the tables do.
class RuleIndex {
public:
    explicit RuleIndex(const RuleSetTables& tables);

    [[nodiscard]] const RuleSetTables& tables() const { return m_tables; }
    /// As RuleSetTables::field; `number` is TagNumber(tag).
    [[nodiscard]] const FieldRule* field(int number, std::string_view tag) const
    {
        return number >= 0 ? m_byNumber[static_cast<std::size_t>(number)] : m_tables.field(tag);
    }
    /// The subfield codes a field of these tables defines.
    [[nodiscard]] const ByteSet& definedSubfields(const FieldRule& field) const { return codesOf(field).defined; }
    /// Those of them that may repeat (as RuleSetTables::subfield finds them).
    [[nodiscard]] const ByteSet& repeatableSubfields(const FieldRule& field) const
    {
        return codesOf(field).repeatable;
    }

private:
    struct SubfieldCodes {
        ByteSet defined, repeatable;
    };
    [[nodiscard]] const SubfieldCodes& codesOf(const FieldRule& field) const
    {
        return m_codes[static_cast<std::size_t>(&field - m_tables.fields.data())];
    }

    const RuleSetTables& m_tables;
    std::array<const FieldRule*, 1000> m_byNumber{};
    std::vector<SubfieldCodes> m_codes;  ///< one a field rule, in the tables' order
};

/// Occurrences of each tag in one record, counted without allocating once
/// the thread has seen a record: tags of digits in a flat table cleared by
/// what was touched, any other tag in a short list.
class TagOccurrences {
public:
    void clear();
    /// Counts one more field with this tag (`number` is TagNumber(tag));
    /// returns its occurrence (1-based).
    int next(int number, std::string_view tag);
    /// Fields counted with this tag number (0-999).
    [[nodiscard]] int count(int number) const { return m_counts[static_cast<std::size_t>(number)]; }

private:
    std::array<int, 1000> m_counts{};
    std::vector<std::uint16_t> m_touched;
    std::vector<std::pair<std::string_view, int>> m_other;
};

}  // namespace veltrane::rules

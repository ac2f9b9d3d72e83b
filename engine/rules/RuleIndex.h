// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the rule check looks up field after field, made fast: a set's field
// rules by tag number, each field's subfield codes as sets of bits, the coded
// positions of each fixed block and material, and the occurrences of each tag
// in a record.

#include <array>
#include <cstdint>
#include <span>
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

/// One coded position of a fixed block, ready to be checked: its rule and,
/// for codes of one byte, the codes as a set.
struct CodedPosition {
    const FixedCodeRule* rule = nullptr;
    ByteSet codes;  ///< when rule->width is 1
    /// Codes of two to eight bytes, each as PackedCode makes it.
    std::vector<std::uint64_t> longCodes;

    /// Up to eight bytes as one number, the first in its lowest byte.
    [[nodiscard]] static std::uint64_t PackedCode(const unsigned char* bytes, std::size_t width)
    {
        std::uint64_t packed = 0;
        for (std::size_t i = 0; i < width; ++i)
            packed |= std::uint64_t{bytes[i]} << (8 * i);
        return packed;
    }

    /// Whether `value` (rule->width bytes) is one of the position's codes.
    [[nodiscard]] bool isCode(const unsigned char* value) const
    {
        if (rule->width == 1)
            return codes.contains(value[0]) || (rule->digits && value[0] >= '0' && value[0] <= '9');
        return isLongCode(value);
    }

private:
    [[nodiscard]] bool isLongCode(const unsigned char* value) const;
};

/// The coded positions of a fixed block ("LDR", "008", "100 $a", …) that
/// one material (or category) has: those of every such field and its own, in
/// the tables' order.
struct CodedBlock {
    /// Blocks whose positions end within this many bytes are memorable.
    static constexpr std::size_t kMemorableExtent = 64;

    std::string_view block, material;
    std::vector<CodedPosition> positions;
    std::size_t extent = 0;  ///< where the last position ends
    /// 0xFF at each byte some position covers, while extent is memorable:
    /// whether a block's bytes hold faults depends on those bytes alone.
    std::array<std::uint64_t, kMemorableExtent / 8> covered{};
};

/// Three ASCII digits as a number (0-999); -1 for any other tag.
[[nodiscard]] inline int TagNumber(std::string_view tag)
{
    if (tag.size() != 3)
        return -1;
    const unsigned hundreds = static_cast<unsigned char>(tag[0]) - '0';
    const unsigned tens = static_cast<unsigned char>(tag[1]) - '0';
    const unsigned units = static_cast<unsigned char>(tag[2]) - '0';
    return hundreds < 10 && tens < 10 && units < 10 ? static_cast<int>(hundreds * 100 + tens * 10 + units) : -1;
}

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
    /// The values an indicator (1 or 2) of a field may hold, as its rule lists them.
    [[nodiscard]] const ByteSet& indicatorValues(const FieldRule& field, int which) const
    {
        return which == 1 ? codesOf(field).indicator1 : codesOf(field).indicator2;
    }
    /// TagNumber of the set's k-th mandatory tag.
    [[nodiscard]] int mandatoryNumber(std::size_t k) const { return m_mandatoryNumbers[k]; }
    /// The coded positions of a block that a material has; with no or an
    /// unknown material, those of every such field only.
    [[nodiscard]] const CodedBlock& codedBlock(std::string_view block, std::string_view material) const;

private:
    struct SubfieldCodes {
        ByteSet defined, repeatable;
        ByteSet indicator1, indicator2;
    };
    void indexCodedPositions();
    /// A name of up to eight bytes as one number.
    [[nodiscard]] static std::uint64_t nameKey(std::string_view name);
    [[nodiscard]] const SubfieldCodes& codesOf(const FieldRule& field) const
    {
        return m_codes[static_cast<std::size_t>(&field - m_tables.fields.data())];
    }


    const RuleSetTables& m_tables;
    std::array<const FieldRule*, 1000> m_byNumber{};
    std::vector<int> m_mandatoryNumbers;
    std::vector<CodedBlock> m_coded;  ///< a block's together, the one of every material ("") first
    std::vector<std::uint64_t> m_blockKeys;  ///< nameKey of each one's block name, where it fits
    CodedBlock m_noBlock;
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
    int next(int number, std::string_view tag)
    {
        if (number < 0)
            return nextOther(tag);
        int& count = m_counts[static_cast<std::size_t>(number)];
        if (count++ == 0)
            m_touched.push_back(static_cast<std::uint16_t>(number));
        return count;
    }
    /// Fields counted with this tag number (0-999).
    [[nodiscard]] int count(int number) const { return m_counts[static_cast<std::size_t>(number)]; }

private:
    int nextOther(std::string_view tag);

    std::array<int, 1000> m_counts{};
    std::vector<std::uint16_t> m_touched;
    std::vector<std::pair<std::string_view, int>> m_other;
};

}  // namespace veltrane::rules

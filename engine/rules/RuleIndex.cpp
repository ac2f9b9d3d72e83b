// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleIndex.h"

#include <algorithm>
#include <cstring>

namespace veltrane::rules {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool CodedPosition::isLongCode(const unsigned char* value) const
{
    const std::size_t width = rule->width;
    if (rule->digits && std::all_of(value, value + width, [](unsigned char c) { return isDigit(static_cast<char>(c)); }))
        return true;
    if (width <= sizeof(std::uint64_t)) {
        const std::uint64_t packed = PackedCode(value, width);
        return std::find(longCodes.begin(), longCodes.end(), packed) != longCodes.end();
    }
    for (std::size_t i = 0; i + width <= rule->codes.size(); i += width)
        if (std::memcmp(rule->codes.data() + i, value, width) == 0)
            return true;
    return false;
}

std::uint64_t RuleIndex::nameKey(std::string_view name)
{
    return CodedPosition::PackedCode(reinterpret_cast<const unsigned char*>(name.data()), name.size());
}

RuleIndex::RuleIndex(const RuleSetTables& tables) : m_tables(tables), m_codes(tables.fields.size())
{
    for (std::size_t i = 0; i < tables.fields.size(); ++i) {
        const FieldRule& rule = tables.fields[i];
        if (const int n = TagNumber(rule.tag); n >= 0)
            m_byNumber[static_cast<std::size_t>(n)] = &rule;
        SubfieldCodes& codes = m_codes[i];
        for (const char value : rule.indicator1)
            codes.indicator1.insert(static_cast<unsigned char>(value));
        for (const char value : rule.indicator2)
            codes.indicator2.insert(static_cast<unsigned char>(value));
        for (const SubfieldRule& s : tables.subfields.subspan(rule.firstSubfield, rule.subfieldCount)) {
            const auto code = static_cast<unsigned char>(s.code);
            // A code listed twice keeps what its first line says, as the tables' lookup does.
            if (codes.defined.contains(code))
                continue;
            codes.defined.insert(code);
            if (s.repeatable)
                codes.repeatable.insert(code);
        }
    }
    for (const std::string_view tag : tables.mandatory)
        m_mandatoryNumbers.push_back(TagNumber(tag));
    indexCodedPositions();
}

void RuleIndex::indexCodedPositions()
{
    const auto fixed = m_tables.fixedCodes;
    std::vector<std::string_view> blocks;
    for (const FixedCodeRule& rule : fixed)
        if (std::find(blocks.begin(), blocks.end(), rule.block) == blocks.end())
            blocks.push_back(rule.block);
    for (const std::string_view block : blocks) {
        std::vector<std::string_view> materials{std::string_view()};
        for (const FixedCodeRule& rule : fixed)
            if (rule.block == block && std::find(materials.begin(), materials.end(), rule.material) == materials.end())
                materials.push_back(rule.material);
        for (const std::string_view material : materials) {
            CodedBlock& coded = m_coded.emplace_back();
            m_blockKeys.push_back(block.size() <= sizeof(std::uint64_t) ? nameKey(block) : 0);
            coded.block = block;
            coded.material = material;
            for (const FixedCodeRule& rule : fixed) {
                if (rule.block != block || (!rule.material.empty() && rule.material != material) || rule.width == 0)
                    continue;
                CodedPosition& position = coded.positions.emplace_back();
                position.rule = &rule;
                if (rule.width == 1)
                    for (const char code : rule.codes)
                        position.codes.insert(static_cast<unsigned char>(code));
                else if (rule.width <= sizeof(std::uint64_t))
                    for (std::size_t i = 0; i + rule.width <= rule.codes.size(); i += rule.width)
                        position.longCodes.push_back(CodedPosition::PackedCode(
                            reinterpret_cast<const unsigned char*>(rule.codes.data()) + i, rule.width));
                coded.extent = std::max<std::size_t>(coded.extent, std::size_t{rule.position} + rule.length);
            }
            if (coded.extent <= CodedBlock::kMemorableExtent) {
                // Byte by byte, then as words as the check reads them.
                unsigned char covered[CodedBlock::kMemorableExtent] = {};
                for (const CodedPosition& position : coded.positions)
                    std::memset(covered + position.rule->position, 0xFF, position.rule->length);
                std::memcpy(coded.covered.data(), covered, sizeof covered);
            }
        }
    }
}

const CodedBlock& RuleIndex::codedBlock(std::string_view block, std::string_view material) const
{
    // Names are a few bytes: compared as numbers while they fit in one.
    const bool packed = block.size() <= sizeof(std::uint64_t);
    const std::uint64_t blockKey = packed ? nameKey(block) : 0;
    for (std::size_t i = 0; i < m_coded.size(); ++i) {
        const CodedBlock& coded = m_coded[i];
        if (packed ? m_blockKeys[i] != blockKey || coded.block.size() != block.size() : coded.block != block)
            continue;
        // The block's first is the one of every material; its others follow it.
        if (material.empty())
            return coded;
        for (std::size_t k = i + 1; k < m_coded.size() && m_coded[k].block == block; ++k)
            if (m_coded[k].material == material)
                return m_coded[k];
        return coded;
    }
    return m_noBlock;
}

void TagOccurrences::clear()
{
    for (const std::uint16_t n : m_touched)
        m_counts[n] = 0;
    m_touched.clear();
    m_other.clear();
}

int TagOccurrences::nextOther(std::string_view tag)
{
    for (auto& [other, count] : m_other)
        if (other == tag)
            return ++count;
    m_other.emplace_back(tag, 1);
    return 1;
}

}  // namespace veltrane::rules

// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleIndex.h"

namespace veltrane::rules {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

int TagNumber(std::string_view tag)
{
    if (tag.size() != 3 || !isDigit(tag[0]) || !isDigit(tag[1]) || !isDigit(tag[2]))
        return -1;
    return (tag[0] - '0') * 100 + (tag[1] - '0') * 10 + (tag[2] - '0');
}

RuleIndex::RuleIndex(const RuleSetTables& tables) : m_tables(tables), m_codes(tables.fields.size())
{
    for (std::size_t i = 0; i < tables.fields.size(); ++i) {
        const FieldRule& rule = tables.fields[i];
        if (const int n = TagNumber(rule.tag); n >= 0)
            m_byNumber[static_cast<std::size_t>(n)] = &rule;
        SubfieldCodes& codes = m_codes[i];
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
}

void TagOccurrences::clear()
{
    for (const std::uint16_t n : m_touched)
        m_counts[n] = 0;
    m_touched.clear();
    m_other.clear();
}

int TagOccurrences::next(int number, std::string_view tag)
{
    if (number >= 0) {
        if (m_counts[static_cast<std::size_t>(number)]++ == 0)
            m_touched.push_back(static_cast<std::uint16_t>(number));
        return m_counts[static_cast<std::size_t>(number)];
    }
    for (auto& [other, count] : m_other)
        if (other == tag)
            return ++count;
    m_other.emplace_back(tag, 1);
    return 1;
}

}  // namespace veltrane::rules

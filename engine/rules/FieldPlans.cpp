// SPDX-License-Identifier: Apache-2.0
#include "rules/FieldPlans.h"

#include <string>

namespace veltrane::rules {

namespace {

/// Local fields (9XX, and X9X where the set does not define the tag) are the
/// library's own and never undefined.
bool isLocalTag(std::string_view tag)
{
    return tag.size() == 3 && (tag[0] == '9' || (tag[1] == '9' && tag[0] >= '0' && tag[0] <= '8'));
}

bool isControlTag(std::string_view tag)
{
    return tag.size() == 3 && tag[0] == '0' && tag[1] == '0';
}

ValueCheck valueCheckOf(FormatKind kind, int number)
{
    if (kind != FormatKind::Unimarc) {
        switch (number) {
        case 20: return ValueCheck::Isbn;
        case 22: return ValueCheck::Issn;
        case 41: return ValueCheck::MarcLanguages;
        case 44: return ValueCheck::MarcCountry;
        default: return ValueCheck::None;
        }
    }
    switch (number) {
    case 10: return ValueCheck::Isbn;
    case 11: return ValueCheck::Issn;
    case 100: return ValueCheck::GeneralData;
    case 101: return ValueCheck::Iso639;
    case 102: return ValueCheck::Iso3166;
    // 105 $a (monograph coded data) and 106 $a (physical medium of textual material).
    case 105:
    case 106: return ValueCheck::CodedPositions;
    default: return ValueCheck::None;
    }
}

}  // namespace

FieldPlans::FieldPlans(FormatKind kind, const RuleSetTables& tables)
    : m_kind(kind), m_index(tables), m_leader(m_index.codedBlock(kLeaderBlock, {})),
      m_generalData(m_index.codedBlock(kGeneralDataBlock, {}))
{
    for (int number = 0; number < 1000; ++number) {
        const std::string tag{static_cast<char>('0' + number / 100), static_cast<char>('0' + number / 10 % 10),
                              static_cast<char>('0' + number % 10)};
        m_plans[static_cast<std::size_t>(number)] = planOf(tag, m_index.field(number, tag));
    }
}

FieldPlan FieldPlans::planOf(std::string_view tag, const FieldRule* rule) const
{
    FieldPlan plan;
    plan.local = isLocalTag(tag);
    plan.rule = rule;
    if (rule == nullptr)
        return plan;
    const int number = TagNumber(tag);
    plan.defined = &m_index.definedSubfields(*rule);
    plan.repeatable = &m_index.repeatableSubfields(*rule);
    plan.indicator1 = &m_index.indicatorValues(*rule, 1);
    plan.indicator2 = &m_index.indicatorValues(*rule, 2);
    const bool marc21 = m_kind != FormatKind::Unimarc;
    plan.valueCheck = valueCheckOf(m_kind, number);
    plan.control = rule->control || isControlTag(tag);
    plan.open = rule->open || rule->subfieldCount == 0;
    plan.embedsFields = !marc21 && tag.size() == 3 && tag[0] == '4';
    plan.titleField = (m_kind == FormatKind::Marc21Bibliographic && number == 245) || (!marc21 && number == 200);
    plan.codesFromAnyList = marc21 && (number == 41 || number == 44);
    return plan;
}

}  // namespace veltrane::rules

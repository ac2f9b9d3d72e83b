// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleTables.h"

#include <algorithm>

namespace veltrane::rules {

namespace {

#include "rules/RuleTables.generated.inc"

constexpr RuleSetTables kMarc21{
    kMarc21Fields, kMarc21Subfields, kMarc21Mandatory,
    kMarc21OneMainEntry, kMarc21IndicatorValues, kMarc21FixedCodes,
    kMarc21MaterialByForm, kMarc21FixedPositionMeanings, kMarc21FixedCodeMeanings};
constexpr RuleSetTables kMarc21AuthorityRules{
    kMarc21AuthorityFields, kMarc21AuthoritySubfields, kMarc21AuthorityMandatory,
    kMarc21AuthorityOneMainEntry, kMarc21AuthorityIndicatorValues, kMarc21AuthorityFixedCodes,
    kMarc21AuthorityMaterialByForm, kMarc21AuthorityFixedPositionMeanings, kMarc21AuthorityFixedCodeMeanings};
constexpr RuleSetTables kUnimarc{
    kUnimarcFields, kUnimarcSubfields, kUnimarcMandatory,
    kUnimarcOneMainEntry, kUnimarcIndicatorValues, kUnimarcFixedCodes,
    kUnimarcMaterialByForm, kUnimarcFixedPositionMeanings, kUnimarcFixedCodeMeanings};
constexpr RuleSetTables kCnmarc{
    kCnmarcFields, kCnmarcSubfields, kCnmarcMandatory,
    kCnmarcOneMainEntry, kCnmarcIndicatorValues, kCnmarcFixedCodes,
    kCnmarcMaterialByForm, kCnmarcFixedPositionMeanings, kCnmarcFixedCodeMeanings};

template <std::size_t N>
bool listed(const std::string_view (&sorted)[N], std::string_view code)
{
    return std::binary_search(std::begin(sorted), std::end(sorted), code);
}

}  // namespace

const FieldRule* RuleSetTables::field(std::string_view tag) const
{
    const auto found = std::lower_bound(fields.begin(), fields.end(), tag,
                                        [](const FieldRule& rule, std::string_view t) { return rule.tag < t; });
    return found != fields.end() && found->tag == tag ? &*found : nullptr;
}

const SubfieldRule* RuleSetTables::subfield(const FieldRule& rule, char code) const
{
    for (const SubfieldRule& s : subfields.subspan(rule.firstSubfield, rule.subfieldCount))
        if (s.code == code)
            return &s;
    return nullptr;
}

std::span<const IndicatorValueRule> RuleSetTables::indicatorValuesOf(const FieldRule& rule, int which) const
{
    const std::size_t first = rule.firstIndicatorValue + (which == 2 ? rule.indicator1ValueCount : 0);
    const std::size_t count = which == 2 ? rule.indicator2ValueCount : rule.indicator1ValueCount;
    return indicatorValues.subspan(first, count);
}

const FixedPositionMeanings* RuleSetTables::meaningsOf(const FixedCodeRule& rule) const
{
    for (const FixedPositionMeanings& m : fixedPositionMeanings)
        if (m.position == rule.position && m.block == rule.block && m.material == rule.material)
            return &m;
    return nullptr;
}

std::span<const FixedCodeMeaning> RuleSetTables::codeMeaningsOf(const FixedPositionMeanings& position) const
{
    return fixedCodeMeanings.subspan(position.firstMeaning, position.meaningCount);
}

const FixedCodeMeaning* RuleSetTables::codeMeaning(const FixedCodeRule& rule, std::string_view code) const
{
    const FixedPositionMeanings* position = meaningsOf(rule);
    if (position == nullptr)
        return nullptr;
    for (const FixedCodeMeaning& m : codeMeaningsOf(*position))
        if (m.code == code)
            return &m;
    return nullptr;
}

const RuleSetTables& Marc21Bibliographic()
{
    return kMarc21;
}

const RuleSetTables& Marc21Authority()
{
    return kMarc21AuthorityRules;
}

const RuleSetTables& UnimarcBibliographic()
{
    return kUnimarc;
}

const RuleSetTables& CnmarcBibliographic()
{
    return kCnmarc;
}

bool IsIso639_2(std::string_view code)
{
    return listed(kIso639_2, code);
}

bool IsIso3166Alpha2(std::string_view code)
{
    return listed(kIso3166Alpha2, code);
}

bool IsMarcLanguage(std::string_view code)
{
    return listed(kMarcLanguages, code);
}

bool IsMarcCountry(std::string_view code)
{
    return listed(kMarcCountries, code);
}

}  // namespace veltrane::rules

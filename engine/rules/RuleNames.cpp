// SPDX-License-Identifier: Apache-2.0
// The names `check --rules` and its output give rule settings, rule sets and
// severities, and how findings quote bytes.
#include "rules/RuleCheck.h"

#include "iso2709/Iso2709Reader.h"
#include "rules/FindingText.h"

namespace veltrane {

std::optional<RuleSetting> ParseRuleSetting(std::string_view name)
{
    if (name == "none")
        return RuleSetting::None;
    if (name == "auto")
        return RuleSetting::Auto;
    if (name == "marc21")
        return RuleSetting::Marc21;
    if (name == "unimarc")
        return RuleSetting::Unimarc;
    if (name == "cnmarc")
        return RuleSetting::Cnmarc;
    return std::nullopt;
}

std::string_view RuleSetName(RuleSet set)
{
    switch (set) {
    case RuleSet::Marc21: return "marc21";
    case RuleSet::Marc21Authority: return "marc21-authority";
    case RuleSet::Unimarc: return "unimarc";
    case RuleSet::Cnmarc: return "cnmarc";
    case RuleSet::None: break;
    }
    return "none";
}

std::string_view SeverityName(Severity severity)
{
    return severity == Severity::Error ? "error" : "warning";
}

Severity RuleCodeSeverity(std::string_view code)
{
    for (const RuleCode& c : kRuleCodes)
        if (c.code == code)
            return c.severity;
    return Severity::Error;
}

namespace rules {

std::string Shown(char c)
{
    if (c == ' ')
        return "blank";
    const unsigned char b = static_cast<unsigned char>(c);
    return b >= 0x20 && b < 0x7F ? std::string(1, c) : PrintableBytes({&b, 1});
}

std::string ShownValues(std::string_view values)
{
    std::string out;
    for (char c : values) {
        if (!out.empty())
            out += ", ";
        out += Shown(c);
    }
    return out.empty() ? "none" : out;
}

std::string PositionText(std::size_t position)
{
    return std::string(1, static_cast<char>('0' + position / 10 % 10)) + static_cast<char>('0' + position % 10);
}

}  // namespace rules

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#pragma once

// The content check of one record against the rules of its format: fields,
// indicators, subfields, fixed lengths, standard numbers, codes and links.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/Iso2709Reader.h"

namespace veltrane {

/// Which rules `check --rules` applies: none (the structural check alone),
/// chosen per record, or one format for every record.
enum class RuleSetting { None, Auto, Marc21, Unimarc, Cnmarc };
/// Reads a `--rules` name; nothing for an unknown one.
[[nodiscard]] std::optional<RuleSetting> ParseRuleSetting(std::string_view name);

/// The rules a record was checked by.
enum class RuleSet { None, Marc21, Marc21Authority, Unimarc, Cnmarc };
/// "none", "marc21", "marc21-authority", "unimarc" or "cnmarc".
[[nodiscard]] std::string_view RuleSetName(RuleSet set);

/// error: the format forbids it; warning: suspect.
enum class Severity { Error, Warning };
[[nodiscard]] std::string_view SeverityName(Severity severity);

/// The codes of content findings, each with its severity and meaning; stable
/// across versions.
struct RuleCode {
    std::string_view code;
    Severity severity;
    std::string_view meaning;
};
inline constexpr RuleCode kRuleCodes[] = {
    {"undefined-field", Severity::Warning, "a tag the rules do not define (local fields are never undefined)"},
    {"repeated-field", Severity::Error, "a field that may not repeat does"},
    {"missing-field", Severity::Error, "a mandatory field is missing"},
    {"conflicting-fields", Severity::Error, "fields that exclude each other, such as two 1XX in MARC 21"},
    {"bad-indicator", Severity::Error, "an indicator value not defined for that tag and position"},
    {"undefined-subfield", Severity::Error, "a subfield code not defined for that tag"},
    {"repeated-subfield", Severity::Error, "a subfield that may not repeat does"},
    {"missing-subfield", Severity::Error, "a title field without its $a (MARC 21 245, UNIMARC 200)"},
    {"subfield-in-control-field", Severity::Error, "a subfield delimiter in a control field"},
    {"control-character", Severity::Error, "a tab, CR, LF or other C0 character in data (ESC allowed in MARC-8)"},
    {"bad-fixed-length", Severity::Error, "006, 007, 008 or UNIMARC 100 $a of the wrong length"},
    {"bad-fixed-value", Severity::Error,
     "a coded position of the leader, of MARC 21 006, 007 or 008 or of UNIMARC 100, 105 or 106 $a holds a code its "
     "list does not define"},
    {"bad-isbn", Severity::Warning, "an ISBN (020 or 010 $a) of the wrong length or check digit"},
    {"bad-issn", Severity::Warning, "an ISSN (022 or 011 $a) of the wrong length or check digit"},
    {"unknown-code", Severity::Warning,
     "a language or country code not in its list (MARC 21 008/15-17, 008/35-37, 041, 044; UNIMARC 101, 102 $a)"},
    {"broken-link", Severity::Error, "an 880 without $6, or a $6 whose linked field is missing or does not link back"},
    {"no-rules", Severity::Warning, "the record's kind has no rule set"},
};
[[nodiscard]] Severity RuleCodeSeverity(std::string_view code);
/// The entry of kRuleCodes for a code, found as the program is compiled.
consteval const RuleCode& FindRuleCode(std::string_view code)
{
    for (const RuleCode& c : kRuleCodes)
        if (c.code == code)
            return c;
    throw "not a content finding's code";
}

/// One content finding; the fields that do not apply stay empty or zero.
struct RuleFinding {
    // Each member starts as declared. A constructor of its own, as with the
    // implicit one each finding made would first be cleared whole, and most
    // findings of a large file are only counted.
    RuleFinding() {}

    std::size_t at = 0;  ///< the record byte it concerns (0-based): its field's first data byte, or 0
    std::string_view code;  ///< one of kRuleCodes
    Severity severity = Severity::Error;  ///< the code's
    std::string message;
    std::string tag;
    int occurrence = 0;  ///< 1-based among the record's fields with that tag
    int indicator = 0;   ///< 1 or 2
    char subfield = 0;
    int position = -1;   ///< byte position in a fixed field
};

/// What the content check needs of a record beyond the reader's view of it.
struct RuleContext {
    std::span<const unsigned char> record;  ///< the bytes the reader read, for finding offsets
    DelimiterMode mode = dmNormal;
    Charset charset = Charset::Utf8;        ///< the set the record is read in
    bool messages = true;                   ///< false: findings come without their message (to be counted)
};

/// The rules a record gets under a setting (None only for RuleSetting::None).
[[nodiscard]] RuleSet ChooseRuleSet(RuleSetting setting, Iso2709Reader& reader, Charset charset);

/// Checks the record `reader` holds against the rules `setting` gives it;
/// appends the findings, in field order after the record-wide ones. A record
/// no rule set covers gets one no-rules finding. Returns the rules applied.
RuleSet CheckRecordRules(Iso2709Reader& reader, RuleSetting setting, const RuleContext& context,
                         std::vector<RuleFinding>& out);

}  // namespace veltrane

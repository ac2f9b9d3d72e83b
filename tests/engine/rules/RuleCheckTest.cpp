// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/RecordCheck.h"
#include "rules/StandardNumbers.h"
#include "RecordFiles.h"

namespace {

using namespace veltrane;
using testsupport::Field;
using testsupport::MakeRecord;

// 36 characters: date entered, type and dates, audience, codes, language
// of cataloguing (chi), transliteration, character sets (50), script.
const std::string kGeneralData = "20240101d2024    k  y0chiy50      ea";
static_assert(sizeof("20240101d2024    k  y0chiy50      ea") - 1 == 36);

const std::vector<Field> kCleanMarc21{
    {"001", "m1"},
    {"008", std::string(40, ' ')},
    {"020", "  \x1f" "a0306406152"},
    {"245", "10\x1f" "aA title"},
};
const std::vector<Field> kCleanUnimarc{
    {"001", "u1"},
    {"010", "  \x1f" "a978-7-111-11111-5"},
    {"100", "  \x1f" "a" + kGeneralData},
    {"101", "0 \x1f" "achi"},
    {"102", "  \x1f" "aCN"},
    {"200", "1 \x1f" "aA title"},
    {"801", " 0\x1f" "aCN\x1f" "bNLC"},
};

std::vector<Field> with(std::vector<Field> fields, const Field& extra)
{
    fields.push_back(extra);
    return fields;
}

std::vector<Field> without(std::vector<Field> fields, const std::string& tag)
{
    std::erase_if(fields, [&](const Field& f) { return f.tag == tag; });
    return fields;
}

std::vector<Field> replaced(std::vector<Field> fields, const Field& field)
{
    for (Field& f : fields)
        if (f.tag == field.tag)
            f.body = field.body;
    return fields;
}

/// The findings of one record checked with the rules given.
std::vector<CheckProblem> findings(const std::string& record, RuleSetting rules,
                                   CharsetSetting charset = CharsetSetting::Auto)
{
    CheckOptions options;
    options.rules = rules;
    options.charset = charset;
    FramedRecord framed;
    framed.number = 1;
    framed.offset = 0;
    framed.declaredLength = static_cast<std::uint32_t>(record.size());
    framed.bytes = {reinterpret_cast<const unsigned char*>(record.data()), record.size()};
    RecordFields fields;
    TextCodec codec;
    std::vector<CheckProblem> out;
    CheckRecord(framed, options, fields, codec, out);
    return out;
}

std::string codes(const std::vector<CheckProblem>& problems)
{
    std::string text;
    for (const CheckProblem& p : problems)
        text += (text.empty() ? "" : " ") + std::string(p.code);
    return text;
}

struct FaultRow {
    const char* name;
    RuleSetting rules;
    std::vector<Field> fields;
    const char* expected;  ///< the codes found, in order; "" for a clean record
};

TEST(RuleCheckTest, EachFaultGivesItsFindingAndNothingElse)
{
    const RuleSetting marc21 = RuleSetting::Marc21, unimarc = RuleSetting::Unimarc, cnmarc = RuleSetting::Cnmarc;
    const std::vector<FaultRow> rows{
        {"clean_marc21", marc21, kCleanMarc21, ""},
        {"clean_unimarc", unimarc, kCleanUnimarc, ""},
        {"local_fields_are_never_undefined", marc21, with(with(kCleanMarc21, {"949", "  \x1f" "ax"}), {"099", "  \x1f" "ax"}), ""},
        // Fields
        {"undefined_field", marc21, with(kCleanMarc21, {"248", "  \x1f" "ax"}), "undefined-field"},
        {"repeated_field", marc21, with(kCleanMarc21, {"245", "10\x1f" "aAgain"}), "repeated-field"},
        {"missing_field_marc21", marc21, without(kCleanMarc21, "245"), "missing-field"},
        {"missing_field_unimarc", unimarc, without(kCleanUnimarc, "801"), "missing-field"},
        {"clean_cnmarc", cnmarc, kCleanUnimarc, ""},
        {"cnmarc_requires_101", cnmarc, without(kCleanUnimarc, "101"), "missing-field"},
        {"unimarc_does_not_require_101", unimarc, without(kCleanUnimarc, "101"), ""},
        {"cnmarc_690_is_named_but_its_data_not_checked", cnmarc,
         with(kCleanUnimarc, {"690", "x9\x1f" "aI247.5\x1f" "v5\x1f" "qany\x1f" "aagain"}), ""},
        {"two_main_entries", marc21, with(with(kCleanMarc21, {"100", "1 \x1f" "aOne"}), {"110", "2 \x1f" "aTwo"}),
         "conflicting-fields"},
        // Indicators and subfields
        {"bad_indicator_1", marc21, replaced(kCleanMarc21, {"245", "30\x1f" "aA title"}), "bad-indicator"},
        {"bad_indicator_undefined_must_be_blank", marc21, replaced(kCleanMarc21, {"020", " 1\x1f" "a0306406152"}),
         "bad-indicator"},
        {"holdings_field_in_bibliographic_record_is_the_holdings_formats", marc21,
         with(kCleanMarc21, {"866", "41\x1f" "80\x1f" "av.1-5"}), ""},
        {"holdings_field_still_holds_no_tab", marc21, with(kCleanMarc21, {"866", "41\x1f" "av.1\t5"}),
         "control-character"},
        {"meeting_date_repeats", marc21, with(kCleanMarc21, {"111", "2 \x1f" "aMeeting\x1f" "d1990\x1f" "d1991"}), ""},
        {"foreign_tag_does_not_repeat", marc21, with(kCleanMarc21, {"886", "2 \x1f" "a100\x1f" "a110"}),
         "repeated-subfield"},
        {"unimarc_210_takes_a_blank", unimarc, with(kCleanUnimarc, {"210", "  \x1f" "aBeijing"}), ""},
        {"undefined_subfield", marc21, replaced(kCleanMarc21, {"245", "10\x1f" "aA title\x1f" "j?"}),
         "undefined-subfield"},
        {"repeated_subfield", marc21, replaced(kCleanMarc21, {"245", "10\x1f" "aOne\x1f" "aTwo"}), "repeated-subfield"},
        {"repeatable_subfield_repeats", marc21, replaced(kCleanMarc21, {"245", "10\x1f" "aOne\x1f" "kx\x1f" "ky"}), ""},
        {"missing_subfield_245", marc21, replaced(kCleanMarc21, {"245", "10\x1f" "bOnly a remainder"}),
         "missing-subfield"},
        {"missing_subfield_200", unimarc, replaced(kCleanUnimarc, {"200", "1 \x1f" "eOther title"}),
         "missing-subfield"},
        {"unimarc_4xx_embedded_field_not_checked_as_4xx", unimarc,
         with(kCleanUnimarc, {"461", " 1\x1f" "1001x\x1f" "1200 1\x1f" "aTitle"}), ""},
        // Control fields and characters
        {"subfield_in_control_field", marc21, replaced(kCleanMarc21, {"001", "m1\x1f" "a"}),
         "subfield-in-control-field"},
        {"tab_in_data", marc21, replaced(kCleanMarc21, {"245", "10\x1f" "aA\ttitle"}), "control-character"},
        {"lf_in_control_field", marc21, replaced(kCleanMarc21, {"001", "m\n1"}), "control-character"},
        // Fixed lengths
        {"short_008", marc21, replaced(kCleanMarc21, {"008", std::string(39, ' ')}), "bad-fixed-length"},
        {"007_length_by_category", marc21, with(kCleanMarc21, {"007", "ta"}), ""},
        {"007_wrong_length", marc21, with(kCleanMarc21, {"007", "tax"}), "bad-fixed-length"},
        {"007_computer_either_length", marc21, with(kCleanMarc21, {"007", "c" + std::string(13, ' ')}), ""},
        {"short_unimarc_100a", unimarc, replaced(kCleanUnimarc, {"100", "  \x1f" "a" + kGeneralData.substr(0, 35)}),
         "bad-fixed-length"},
        // Standard numbers and codes
        {"bad_isbn_check_digit", marc21, replaced(kCleanMarc21, {"020", "  \x1f" "a0306406153"}), "bad-isbn"},
        {"isbn_with_qualifier", marc21, replaced(kCleanMarc21, {"020", "  \x1f" "a0306406152 (pbk.)"}), ""},
        {"invalid_isbn_in_z_is_no_fault", marc21, replaced(kCleanMarc21, {"020", "  \x1f" "z0306406153"}), ""},
        {"bad_isbn_length_unimarc", unimarc, replaced(kCleanUnimarc, {"010", "  \x1f" "a978-7-111"}), "bad-isbn"},
        {"bad_issn", marc21, with(kCleanMarc21, {"022", "  \x1f" "a0317-8472"}), "bad-issn"},
        {"good_issn", marc21, with(kCleanMarc21, {"022", "  \x1f" "a0317-8471"}), ""},
        {"unknown_language", unimarc, replaced(kCleanUnimarc, {"101", "0 \x1f" "axxq"}), "unknown-code"},
        {"unknown_country", unimarc, replaced(kCleanUnimarc, {"102", "  \x1f" "aZZ"}), "unknown-code"},
        {"marc_codes_in_008", marc21, replaced(kCleanMarc21, {"008", std::string(15, ' ') + "cc " + std::string(17, ' ') + "chi  "}), ""},
        {"unknown_country_in_008", marc21, replaced(kCleanMarc21, {"008", std::string(15, ' ') + "qq " + std::string(22, ' ')}),
         "unknown-code"},
        {"unknown_language_in_008", marc21, replaced(kCleanMarc21, {"008", std::string(35, ' ') + "qqq  "}), "unknown-code"},
        {"fill_characters_are_no_code", marc21, replaced(kCleanMarc21, {"008", std::string(15, ' ') + "|||" + std::string(17, ' ') + "|||  "}), ""},
        {"041_codes_run_together", marc21, with(kCleanMarc21, {"041", "0 " "aengfre" "hchi"}), ""},
        {"041_unknown_language", marc21, with(kCleanMarc21, {"041", "0 " "aengxx"}), "unknown-code"},
        {"041_other_source_is_not_checked", marc21, with(kCleanMarc21, {"041", " 7" "aen" "2iso639-1"}), ""},
        {"044_country", marc21, with(kCleanMarc21, {"044", "  " "acc" "axxu"}), ""},
        {"044_unknown_country", marc21, with(kCleanMarc21, {"044", "  " "aCN"}), "unknown-code"},
        // Links
        {"880_without_linkage", marc21, with(kCleanMarc21, {"880", "10\x1f" "aTitle"}), "broken-link"},
        {"880_linked_both_ways", marc21,
         with(replaced(kCleanMarc21, {"245", "10\x1f" "6880-01\x1f" "aA title"}), {"880", "10\x1f" "6245-01\x1f" "aTitle"}),
         ""},
        {"880_not_linked_back", marc21, with(kCleanMarc21, {"880", "10\x1f" "6245-01\x1f" "aTitle"}), "broken-link"},
        {"880_follows_its_fields_rules", marc21,
         with(replaced(kCleanMarc21, {"245", "10\x1f" "6880-01\x1f" "aA title"}),
              {"880", "30\x1f" "6245-01\x1f" "aTitle"}),
         "bad-indicator"},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(codes(findings(MakeRecord(row.fields), row.rules)), row.expected);
    }
}

TEST(RuleCheckTest, FindingsCarryWhereAndWhatForJsonLines)
{
    const std::string record = MakeRecord(replaced(kCleanMarc21, {"245", "1x\x1f" "aA title"}));
    const std::vector<CheckProblem> found = findings(record, RuleSetting::Marc21);
    ASSERT_EQ(codes(found), "bad-indicator");
    const CheckProblem& p = found[0];
    EXPECT_EQ(p.severity, Severity::Error);
    EXPECT_EQ(p.rules, RuleSet::Marc21);
    EXPECT_EQ(p.tag, "245");
    EXPECT_EQ(p.occurrence, 1);
    EXPECT_EQ(p.indicator, 2);
    EXPECT_EQ(p.controlNumber, "m1");
    // The offset is the field's first byte in the file.
    EXPECT_EQ(record.substr(p.offset, 2), "1x");
    EXPECT_NE(p.description.find("245"), std::string::npos) << p.description;
}

TEST(RuleCheckTest, AutoChoosesTheRulesOfEachRecord)
{
    const auto rulesOf = [](const std::string& record, CharsetSetting charset = CharsetSetting::Auto) {
        const std::vector<CheckProblem> found = findings(record, RuleSetting::Auto, charset);
        return found.empty() ? std::string("clean") : std::string(RuleSetName(found.back().rules));
    };
    // A clean record has no finding to tell its rules by: each gets one undefined field.
    EXPECT_EQ(rulesOf(MakeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}))), "marc21");
    EXPECT_EQ(rulesOf(MakeRecord(with(kCleanUnimarc, {"248", "  \x1f" "ax"}))), "cnmarc");  // 801 $a CN
    EXPECT_EQ(rulesOf(MakeRecord(with(replaced(kCleanUnimarc, {"801", " 0\x1f" "aFR"}), {"248", "  \x1f" "ax"}))),
              "unimarc");
    EXPECT_EQ(rulesOf(MakeRecord(with(replaced(kCleanUnimarc, {"801", " 0\x1f" "aFR"}), {"248", "  \x1f" "ax"})),
                      CharsetSetting::Gbk),
              "cnmarc");
    // A clean record under auto has no finding at all.
    EXPECT_EQ(codes(findings(MakeRecord(kCleanMarc21), RuleSetting::Auto)), "");
}

TEST(RuleCheckTest, RecordsNoRuleSetCoversGetOneNotice)
{
    for (const char type : {'u', 'v', 'x', 'y', 'w', 'q', 'z'}) {
        std::string record = MakeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}));
        record[6] = type;
        const std::vector<CheckProblem> found = findings(record, RuleSetting::Auto);
        SCOPED_TRACE(std::string(1, type));
        EXPECT_EQ(codes(found), "no-rules");
        EXPECT_EQ(found.at(0).severity, Severity::Warning);
        EXPECT_EQ(found.at(0).rules, type == 'z' ? RuleSet::Marc21Authority : RuleSet::Marc21);
    }
    std::string authority = MakeRecord(kCleanUnimarc);
    authority[6] = 'x';
    EXPECT_EQ(codes(findings(authority, RuleSetting::Unimarc)), "no-rules");
}

TEST(RuleCheckTest, StructuralProblemsComeFirstAndNoneLeavesTheCheckAsItWas)
{
    std::string record = MakeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}));
    record.replace(20, 4, "4501");
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21)), "entry-map undefined-field");
    const std::vector<CheckProblem> plain = findings(record, RuleSetting::None);
    EXPECT_EQ(codes(plain), "entry-map");
    EXPECT_EQ(plain[0].rules, RuleSet::None);
    EXPECT_EQ(findings(record, RuleSetting::Marc21)[0].rules, RuleSet::Marc21);
}

TEST(RuleCheckTest, EscapeIsAllowedInMarc8AndControlCharactersElsewhereAreNot)
{
    const std::string record = MakeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aA \x1b(BLatin"}));
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21, CharsetSetting::Marc8)), "");
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21, CharsetSetting::Gbk)), "control-character");
}

TEST(RuleCheckTest, NonSortingMarksAreNoFault)
{
    // U+0098/U+009C in MARC 21, U+0088/U+0089 in UNIMARC, 0x88/0x89 in MARC-8:
    // neither invalid bytes nor control characters.
    EXPECT_EQ(codes(findings(MakeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aAda \xc2\x98of\xc2\x9c"})),
                             RuleSetting::Marc21, CharsetSetting::Utf8)),
              "");
    EXPECT_EQ(codes(findings(MakeRecord(replaced(kCleanUnimarc, {"200", "1 \x1f" "a\xc2\x88Il \xc2\x89" "ciclo"})),
                             RuleSetting::Unimarc, CharsetSetting::Utf8)),
              "");
    EXPECT_EQ(codes(findings(MakeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aAda \x88of\x89"})),
                             RuleSetting::Marc21, CharsetSetting::Marc8)),
              "");
}

TEST(RuleCheckTest, StandardNumbers)
{
    using rules::CheckIsbn;
    using rules::CheckIssn;
    using rules::NumberFault;
    EXPECT_EQ(CheckIsbn("0-306-40615-2"), NumberFault::None);
    EXPECT_EQ(CheckIsbn("080442957X"), NumberFault::None);
    EXPECT_EQ(CheckIsbn("978-0-306-40615-7"), NumberFault::None);
    EXPECT_EQ(CheckIsbn("9780306406158"), NumberFault::CheckDigit);
    EXPECT_EQ(CheckIsbn("08044X2957"), NumberFault::CheckDigit);
    EXPECT_EQ(CheckIsbn("030640615"), NumberFault::Length);
    EXPECT_EQ(CheckIsbn(""), NumberFault::Length);
    EXPECT_EQ(CheckIssn("2049-3630"), NumberFault::None);
    EXPECT_EQ(CheckIssn("1050-124X"), NumberFault::None);
    EXPECT_EQ(CheckIssn("0378-5951"), NumberFault::CheckDigit);
    EXPECT_EQ(CheckIssn("0378-59"), NumberFault::Length);
}

}  // namespace

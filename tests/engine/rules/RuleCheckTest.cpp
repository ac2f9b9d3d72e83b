// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <string_view>
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

/// A book's 008 as a cataloguer codes it: entered 2024-01-01, a single date
/// (2024), published in China, no illustrations, not a conference,
/// festschrift or index, not fiction, in Chinese, by a cooperative program.
const std::string kBook008 = std::string("240101s2024    cc ") + "    " + "  " + "    " + " 000 0 " + "chi" + " d";

/// `text` with `part` written over it from byte `at` on.
std::string patched(std::string text, std::size_t at, std::string_view part)
{
    text.replace(at, part.size(), part);
    return text;
}

// A sound disc as a cataloguer codes it: 33 1/3 rpm, stereophonic,
// microgroove, 4 3/4 in., mass produced, plastic, digital.
const std::string kSoundDisc007 = "sd fsngnnmmned";
// A book's 006 (006/01-17 as a book's 008/18-34 hold them).
const std::string kBook006 = "a" + kBook008.substr(18, 17);
// A monthly periodical's 006: regular, not a conference, successive entry.
const std::string kSerial006 = "smr p" + std::string(7, ' ') + "0" + std::string(4, ' ') + "0";

const std::vector<Field> kCleanMarc21{
    {"001", "m1"},
    {"008", kBook008},
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

/// A record whose leader holds MARC 21 codes throughout: the shared helper
/// writes '0' at byte 8, the type of control, where MARC 21 allows a blank
/// or 'a'.
std::string makeRecord(const std::vector<Field>& fields)
{
    std::string record = MakeRecord(fields);
    record[8] = ' ';
    return record;
}

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

/// The findings of one record checked with the rules given; with `messages`
/// false, as a summary counts them.
std::vector<CheckProblem> findings(const std::string& record, RuleSetting rules,
                                   CharsetSetting charset = CharsetSetting::Auto, bool messages = true)
{
    CheckOptions options;
    options.rules = rules;
    options.charset = charset;
    options.messages = messages;
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
        // Pinyin: $9 as the National Library of China writes it, $A and $B as CALIS does.
        {"cnmarc_pinyin_in_200_and_7xx", cnmarc,
         with(with(replaced(kCleanUnimarc, {"200", "1 \x1f" "aTitle\x1f" "9ti\x1f" "ATI\x1f" "9again"}),
                   {"701", " 0\x1f" "aName\x1f" "9ming\x1f" "AMING"}),
              {"712", "01\x1f" "aBody\x1f" "bSection\x1f" "ABODY\x1f" "BSECTION"}),
         ""},
        {"unimarc_local_9_does_not_repeat", unimarc,
         replaced(kCleanUnimarc, {"200", "1 \x1f" "aTitle\x1f" "9one\x1f" "9two"}), "repeated-subfield"},
        {"unimarc_has_no_pinyin_A", unimarc, replaced(kCleanUnimarc, {"200", "1 \x1f" "aTitle\x1f" "ATI"}),
         "undefined-subfield"},
        {"cnmarc_parallel_title_510_takes_no_pinyin", cnmarc, with(kCleanUnimarc, {"510", "1 \x1f" "aTitle\x1f" "ATI"}),
         "undefined-subfield"},
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
        {"subfield_repeated_twice_is_told_once", marc21,
         replaced(kCleanMarc21, {"245", "10\x1f" "aOne\x1f" "aTwo\x1f" "aThree"}), "repeated-subfield"},
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
        {"control_characters_told_once_a_subfield", marc21,
         replaced(kCleanMarc21, {"245", "10\x1f" "aA\ttitle\x1f" "bon\x01" "e\x02 and\x1f" "cthe third"}),
         "control-character control-character"},
        {"control_character_in_an_indicator", marc21, replaced(kCleanMarc21, {"245", "1\n\x1f" "aA title"}),
         "bad-indicator control-character"},
        {"control_character_late_in_a_long_field", marc21,
         replaced(kCleanMarc21, {"245", "10\x1f" "a" + std::string(70, 'x') + "\r"}), "control-character"},
        {"lf_in_control_field", marc21, replaced(kCleanMarc21, {"001", "m\n1"}), "control-character"},
        // Fixed lengths
        {"short_008", marc21, replaced(kCleanMarc21, {"008", kBook008.substr(0, 39)}), "bad-fixed-length"},
        {"007_length_by_category", marc21, with(kCleanMarc21, {"007", "ta"}), ""},
        {"007_wrong_length", marc21, with(kCleanMarc21, {"007", "tax"}), "bad-fixed-length"},
        {"007_computer_either_length", marc21, with(kCleanMarc21, {"007", "cr cn " + std::string(8, '|')}), ""},
        {"007_computer_of_six_bytes", marc21, with(kCleanMarc21, {"007", "cr cn "}), ""},
        {"bad_007_code", marc21, with(kCleanMarc21, {"007", "sd fsngnnmmnex"}), "bad-fixed-value"},
        {"bad_006_code", marc21, with(kCleanMarc21, {"006", patched(kBook006, 6, "x")}), "bad-fixed-value"},
        {"bad_unimarc_100a_code", unimarc, replaced(kCleanUnimarc, {"100", "  \x1f" "a" + patched(kGeneralData, 8, "s")}),
         "bad-fixed-value"},
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
        {"marc_codes_in_008", marc21, replaced(kCleanMarc21, {"008", patched(patched(kBook008, 15, "xxu"), 35, "eng")}), ""},
        {"unknown_country_in_008", marc21, replaced(kCleanMarc21, {"008", patched(kBook008, 15, "qq ")}), "unknown-code"},
        {"unknown_language_in_008", marc21, replaced(kCleanMarc21, {"008", patched(kBook008, 35, "qqq")}), "unknown-code"},
        {"fill_characters_are_no_code", marc21, replaced(kCleanMarc21, {"008", patched(patched(kBook008, 15, "|||"), 35, "|||")}), ""},
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
        const std::string record = makeRecord(row.fields);
        const std::vector<CheckProblem> told = findings(record, row.rules);
        EXPECT_EQ(codes(told), row.expected);
        // Counted, as a summary counts them, they are the same findings
        // without their text.
        const std::vector<CheckProblem> counted = findings(record, row.rules, CharsetSetting::Auto, false);
        ASSERT_EQ(counted.size(), told.size());
        for (std::size_t i = 0; i < told.size(); ++i) {
            EXPECT_EQ(counted[i].code, told[i].code);
            EXPECT_EQ(counted[i].rules, told[i].rules);
            EXPECT_EQ(counted[i].severity, told[i].severity);
            EXPECT_EQ(counted[i].offset, told[i].offset);
            EXPECT_TRUE(counted[i].description.empty());
        }
    }
}

/// The codes found and where: "bad-fixed-value@17 …".
std::string codesAndPositions(const std::vector<CheckProblem>& problems)
{
    std::string text;
    for (const CheckProblem& p : problems)
        text += (text.empty() ? "" : " ") + std::string(p.code) + "@" + std::to_string(p.position);
    return text;
}

// An 008 every material but computer files takes: each position of a
// material holds the fill character ('|', no attempt to code).
const std::string kFill008 = patched(kBook008, 18, std::string(17, '|'));

struct CodedRow {
    const char* name;
    std::string leader;  ///< bytes 5 to 19 of the leader (record status to multipart level)
    std::string fixed008;
    const char* expected;  ///< codes and positions found; "" for a clean record
};

TEST(RuleCheckTest, CodedPositionsOfTheLeaderAnd008HoldTheirCodes)
{
    // Leader bytes 5-11 (status, type, level, control, coding scheme, counts),
    // then 17-19 (encoding level, descriptive form, multipart level).
    const auto leader = [&](std::string_view from5to11, std::string_view from17to19 = "   ") {
        return std::string(from5to11) + "#####" + std::string(from17to19);
    };
    const std::vector<CodedRow> rows{
        {"clean_book", leader("nam  22"), kBook008, ""},
        {"fill_characters_where_the_list_allows_them", leader("nam  22"), kFill008, ""},
        {"record_status", leader("zam  22"), kBook008, "bad-fixed-value@5"},
        {"obsolete_type_of_record", leader("nbm  22"), kBook008, "bad-fixed-value@6"},
        {"bibliographic_level", leader("nax  22"), kBook008, "bad-fixed-value@7"},
        {"character_coding_scheme", leader("nam b22"), kBook008, "bad-fixed-value@9"},
        {"encoding_level", leader("nam  22", "x  "), kBook008, "bad-fixed-value@17"},
        {"descriptive_form", leader("nam  22", " x "), kBook008, "bad-fixed-value@18"},
        {"multipart_level", leader("nam  22", "  x"), kBook008, "bad-fixed-value@19"},
        {"008_06_has_no_blank", leader("nam  22"), patched(kBook008, 6, " "), "bad-fixed-value@6"},
        {"008_date_digits_and_unknown", leader("nam  22"), patched(kBook008, 7, "19uu"), ""},
        {"008_date_letter", leader("nam  22"), patched(kBook008, 7, "19x0"), "bad-fixed-value@9"},
        {"008_book_form_of_item", leader("nam  22"), patched(kBook008, 23, "x"), "bad-fixed-value@23"},
        {"008_each_byte_of_nature_of_contents", leader("nam  22"), patched(kBook008, 24, "ab7 "), "bad-fixed-value@26"},
        {"008_obsolete_code", leader("nam  22"), patched(kBook008, 33, "c"), "bad-fixed-value@33"},
        // The material follows leader/06-07.
        {"computer_file", leader("nmm  22"), patched(kFill008, 23, "x"), "bad-fixed-value@23"},
        {"computer_file_form_of_item_unknown_or_uncoded", leader("nmm  22"), patched(kFill008, 23, " "), ""},
        {"computer_file_type", leader("nmm  22"), patched(patched(kFill008, 23, "o"), 26, " "), "bad-fixed-value@26"},
        {"continuing_resource_by_level", leader("nas  22"), patched(kFill008, 19, "a"), "bad-fixed-value@19"},
        {"book_positions_are_not_serial_ones", leader("nam  22"), patched(kFill008, 19, "a"), ""},
        {"map_projection_two_bytes", leader("nem  22"), patched(kFill008, 22, "bd"), ""},
        {"map_projection_unknown", leader("nem  22"), patched(kFill008, 22, "qq"), "bad-fixed-value@22"},
        {"music_form_of_composition", leader("ncm  22"), patched(kFill008, 18, "sy"), ""},
        {"visual_running_time", leader("ngm  22"), patched(kFill008, 18, "095"), ""},
        {"visual_running_time_not_a_number", leader("ngm  22"), patched(kFill008, 18, "9x5"), "bad-fixed-value@18"},
        {"mixed_material_form_of_item", leader("npm  22"), patched(kFill008, 23, "x"), "bad-fixed-value@23"},
        {"no_material_for_a_manuscript_serial", leader("ntb  22"), patched(kFill008, 23, "x"), ""},
    };
    for (const CodedRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string record = makeRecord(replaced(kCleanMarc21, {"008", row.fixed008}));
        record.replace(5, 7, row.leader.substr(0, 7));
        record.replace(17, 3, row.leader.substr(12, 3));
        EXPECT_EQ(codesAndPositions(findings(record, RuleSetting::Marc21)), row.expected);
    }
}

struct FieldCodeRow {
    const char* name;
    std::string tag;
    std::string body;
    const char* expected;  ///< codes and positions found; "" for a clean field
};

TEST(RuleCheckTest, CodedPositionsOf006And007HoldTheirCodes)
{
    const std::vector<FieldCodeRow> rows{
        {"sound_disc", "007", kSoundDisc007, ""},
        {"fill_characters", "007", "s" + std::string(13, '|'), ""},
        {"blanks_are_not_codes", "007", "s" + std::string(13, ' '), "bad-fixed-value@1 bad-fixed-value@3 bad-fixed-value@4 "
         "bad-fixed-value@5 bad-fixed-value@6 bad-fixed-value@7 bad-fixed-value@8 bad-fixed-value@9 bad-fixed-value@10 "
         "bad-fixed-value@11 bad-fixed-value@12 bad-fixed-value@13"},
        {"undefined_position_is_not_checked", "007", patched(kSoundDisc007, 2, "x"), ""},
        {"code_of_another_category", "007", patched(kSoundDisc007, 3, "q"), "bad-fixed-value@3"},
        {"unknown_category", "007", "xu", "bad-fixed-value@0"},
        {"wrong_length_tells_only_the_length", "007", "sdx", "bad-fixed-length@-1"},
        {"bit_depth_digits", "007", "cr cn 024" + std::string(5, '|'), ""},
        {"bit_depth_unknown", "007", "cr cn ---" + std::string(5, '|'), ""},
        {"bit_depth_letters", "007", "cr cn 0x4" + std::string(5, '|'), "bad-fixed-value@6"},
        {"remote_sensing_data_type", "007", "ru ac0fbbaa", ""},
        {"remote_sensing_data_type_unknown", "007", "ru ac0fbbqq", "bad-fixed-value@9"},
        {"book_006", "006", kBook006, ""},
        {"006_position_is_the_008_position_less_17", "006", patched(kBook006, 6, "x"), "bad-fixed-value@6"},
        {"006_every_byte_of_nature_of_contents", "006", patched(kBook006, 7, "ab7 "), "bad-fixed-value@9"},
        {"006_of_a_continuing_resource", "006", kSerial006, ""},
        {"006_continuing_resource_frequency", "006", patched(kSerial006, 1, "x"), "bad-fixed-value@1"},
        {"006_computer_file_form_of_item", "006", "m     o  d |      ", ""},
        {"006_computer_file_blank_form_of_item", "006", "m        d |      ", ""},
        {"006_unknown_form", "006", "b" + kBook008.substr(18, 17), "bad-fixed-value@0"},
        {"006_wrong_length_tells_only_the_length", "006", "a    x", "bad-fixed-length@-1"},
    };
    for (const FieldCodeRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(codesAndPositions(findings(makeRecord(with(kCleanMarc21, {row.tag, row.body})), RuleSetting::Marc21)),
                  row.expected);
    }
    std::string record = makeRecord(with(kCleanMarc21, {"007", patched(kSoundDisc007, 3, "q")}));
    EXPECT_EQ(findings(record, RuleSetting::Marc21).at(0).description,
              "field 007/03 q is not a code of Speed (category s)");
    record = makeRecord(with(kCleanMarc21, {"006", patched(kBook006, 6, "x")}));
    EXPECT_EQ(findings(record, RuleSetting::Marc21).at(0).description,
              "field 006/06 x is not a code of Form of item (BK)");
}

struct UnimarcCodedRow {
    const char* name;
    RuleSetting rules;
    std::string label;  ///< record label bytes 5 to 8 (status, type, level, hierarchy)
    std::string generalData;  ///< 100 $a
    const char* expected;  ///< codes and positions found; "" for a clean record
};

TEST(RuleCheckTest, CodedPositionsOfTheUnimarcLabelAnd100aHoldTheirCodes)
{
    const RuleSetting unimarc = RuleSetting::Unimarc, cnmarc = RuleSetting::Cnmarc;
    // Fill characters where a cataloguer codes nothing; blanks where no code is needed.
    const std::string filled = patched(kGeneralData, 17, "|||||");
    const std::vector<UnimarcCodedRow> rows{
        {"clean", unimarc, "nam ", kGeneralData, ""},
        {"clean_cnmarc", cnmarc, "nam ", kGeneralData, ""},
        {"fill_characters_in_100a", unimarc, "nam ", filled, ""},
        {"label_status", unimarc, "xam ", kGeneralData, "bad-fixed-value@5"},
        {"label_type_of_record_is_unimarcs_own", unimarc, "ntm ", kGeneralData, "bad-fixed-value@6"},
        {"label_integrating_resource", unimarc, "nai1", kGeneralData, ""},
        {"label_hierarchy", cnmarc, "nam3", kGeneralData, "bad-fixed-value@8"},
        {"type_of_publication_date", unimarc, "nam ", patched(kGeneralData, 8, "s"), "bad-fixed-value@8"},
        {"second_audience", unimarc, "nam ", patched(kGeneralData, 17, "kx "), "bad-fixed-value@18"},
        {"government_publication", unimarc, "nam ", patched(kGeneralData, 20, " "), "bad-fixed-value@20"},
        {"modified_record", cnmarc, "nam ", patched(kGeneralData, 21, "2"), "bad-fixed-value@21"},
        {"transliteration", unimarc, "nam ", patched(kGeneralData, 25, "x"), "bad-fixed-value@25"},
        {"character_set_is_mandatory", unimarc, "nam ", patched(kGeneralData, 26, "  "), "bad-fixed-value@26"},
        {"character_set_reserved", unimarc, "nam ", patched(kGeneralData, 26, "10"), "bad-fixed-value@26"},
        {"second_character_set", unimarc, "nam ", patched(kGeneralData, 26, "0103"), ""},
        {"unimarc_reserves_set_10", unimarc, "nam ", patched(kGeneralData, 26, "0110"), "bad-fixed-value@28"},
        {"cnmarc_codes_its_national_sets", cnmarc, "nam ", patched(kGeneralData, 26, "0110"), ""},
        {"additional_sets_are_not_codes", unimarc, "nam ", patched(kGeneralData, 30, "abcd"), ""},
        {"script_of_title", unimarc, "nam ", patched(kGeneralData, 34, "xx"), "bad-fixed-value@34"},
        {"wrong_length_tells_only_the_length", unimarc, "nam ", kGeneralData.substr(0, 35), "bad-fixed-length@-1"},
    };
    for (const UnimarcCodedRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string record = makeRecord(replaced(kCleanUnimarc, {"100", "  \x1f" "a" + row.generalData}));
        record.replace(5, 4, row.label);
        EXPECT_EQ(codesAndPositions(findings(record, row.rules)), row.expected);
    }
    // 105 and 106 $a: a book with illustrations and maps, a bibliography, not
    // a conference, festschrift or index, not literature, not biography.
    const std::string book105 = "ab  a   000yy";
    const struct {
        const char* name;
        Field field;
        const char* expected;
    } codedFields[]{
        {"105_clean", {"105", "  \x1f" "a" + book105}, ""},
        {"105_fill_characters", {"105", "  \x1f" "a" + std::string(13, '|')}, ""},
        {"105_letter_l_is_a_code", {"105", "  \x1f" "al   l   000yy"}, ""},
        {"105_blank_where_a_code_is_due", {"105", "  \x1f" "a" + patched(book105, 9, " ")}, "bad-fixed-value@9"},
        {"105_form_of_contents", {"105", "  \x1f" "a" + patched(book105, 5, "u")}, "bad-fixed-value@5"},
        {"106_regular_print", {"106", "  \x1f" "ar"}, ""},
        {"106_obsolete_electronic", {"106", "  \x1f" "as"}, "bad-fixed-value@0"},
    };
    for (const auto& row : codedFields) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(codesAndPositions(findings(makeRecord(with(kCleanUnimarc, row.field)), unimarc)), row.expected);
    }
    const std::string record =
        makeRecord(replaced(kCleanUnimarc, {"100", "  \x1f" "a" + patched(kGeneralData, 20, "x")}));
    const std::vector<CheckProblem> found = findings(record, RuleSetting::Unimarc);
    ASSERT_EQ(codes(found), "bad-fixed-value");
    EXPECT_EQ(found[0].description, "field 100 $a/20 x is not a code of Government publication");
    EXPECT_EQ(found[0].subfield, 'a');
    EXPECT_EQ(found[0].tag, "100");
}

// A thread remembers the coded bytes of each fixed block it last found
// without a fault, and takes a block holding those as faultless: a faulty
// block, or one whose coded bytes differ, is checked again, record after
// record; bytes no position covers (the record length, the date entered)
// do not matter.
TEST(RuleCheckTest, AFixedBlockIsCheckedAgainUnlessItsCodedBytesAreThoseLastFoundFaultless)
{
    const auto record = [](std::string_view label, const std::string& generalData, const std::string& id) {
        std::string bytes =
            makeRecord(replaced(replaced(kCleanUnimarc, {"100", "  \x1f" "a" + generalData}), {"001", id}));
        bytes.replace(5, 4, label);
        return bytes;
    };
    const std::string otherDay = patched(kGeneralData, 0, "20191231");
    const struct {
        std::string record;
        const char* expected;
    } sequence[]{
        {record("nam ", kGeneralData, "u1"), ""},
        {record("xam ", kGeneralData, "u2"), "bad-fixed-value@5"},
        {record("xam ", kGeneralData, "u3"), "bad-fixed-value@5"},
        {record("nam ", otherDay, "a much longer id"), ""},
        {record("nam ", patched(otherDay, 8, "s"), "u5"), "bad-fixed-value@8"},
        {record("nam ", patched(otherDay, 8, "s"), "u6"), "bad-fixed-value@8"},
        {record("cam ", otherDay, "u7"), ""},
        {record("nam ", patched(kGeneralData, 34, "xx"), "u8"), "bad-fixed-value@34"},
        {record("nam ", kGeneralData, "u9"), ""},
    };
    for (std::size_t i = 0; i < std::size(sequence); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(codesAndPositions(findings(sequence[i].record, RuleSetting::Unimarc)), sequence[i].expected);
    }
}

TEST(RuleCheckTest, AFixedValueFindingSaysWhereAndWhat)
{
    std::string record = makeRecord(replaced(kCleanMarc21, {"008", patched(kBook008, 23, "x")}));
    const std::vector<CheckProblem> found = findings(record, RuleSetting::Marc21);
    ASSERT_EQ(codes(found), "bad-fixed-value");
    EXPECT_EQ(found[0].severity, Severity::Error);
    EXPECT_EQ(found[0].tag, "008");
    EXPECT_EQ(found[0].position, 23);
    EXPECT_EQ(found[0].description, "field 008/23 x is not a code of Form of item (BK)");
    record[17] = 'x';
    EXPECT_EQ(findings(record, RuleSetting::Marc21)[0].description, "leader/17 x is not a code of Encoding level");
    // Blanks in a value of two bytes show as the lists write them.
    std::string music = makeRecord(replaced(kCleanMarc21, {"008", patched(kFill008, 18, "  ")}));
    music[6] = 'c';
    EXPECT_EQ(findings(music, RuleSetting::Marc21).at(0).description,
              "field 008/18 ## is not a code of Form of composition (MU)");
}

// An authority record's 008: entered 2024-01-01, no geographic subdivision,
// no romanization, an established heading by AACR 2 for names (not
// subjects), fully established, by a cooperative program.
const std::string kAuthority008 =
    std::string("240101") + "nn " + "ac" + "nnn" + "aab" + "n" + std::string(10, ' ') + " a aaa" + "    " + " c";

std::string authorityRecord(const std::vector<Field>& fields)
{
    std::string record = makeRecord(fields);
    record[6] = 'z';   // authority data
    record[17] = 'n';  // complete authority record
    return record;
}

TEST(RuleCheckTest, AuthorityRecordsHaveTheirOwnRules)
{
    const std::vector<Field> clean{{"001", "a1"}, {"008", kAuthority008}, {"100", "1 " "aLovelace, Augusta Ada"},
                                   {"400", "1 " "aByron, Ada"}, {"670", "  " "aSource"}};
    for (const RuleSetting setting : {RuleSetting::Auto, RuleSetting::Marc21}) {
        EXPECT_EQ(codes(findings(authorityRecord(clean), setting)), "");
        const std::vector<CheckProblem> found = findings(authorityRecord(with(clean, {"245", "10" "aA title"})), setting);
        ASSERT_EQ(codes(found), "undefined-field");
        EXPECT_EQ(found[0].rules, RuleSet::Marc21Authority);
        EXPECT_EQ(found[0].description, "field 245 is not defined in marc21-authority");
    }
    const struct {
        const char* name;
        std::vector<Field> fields;
        const char* expected;
    } rows[]{
        {"heading_indicator", replaced(clean, {"100", "10" "aName"}), "bad-indicator"},
        {"heading_subfield", replaced(clean, {"100", "1 " "aName" "uAffiliation"}), "undefined-subfield"},
        {"heading_repeats", with(clean, {"100", "1 " "aOther"}), "repeated-field"},
        {"tracing_preferred_variant", replaced(clean, {"400", "11" "aByron, Ada"}), ""},
        {"no_245_needed_and_headings_are_not_main_entries", with(clean, {"110", "2 " "aBody"}), ""},
        {"008_kind_of_record", replaced(clean, {"008", patched(kAuthority008, 9, "x")}), "bad-fixed-value"},
        // 008/15-17 of an authority record are heading uses, not a country.
        {"008_heading_use", replaced(clean, {"008", patched(kAuthority008, 15, "c")}), "bad-fixed-value"},
        {"880_links", with(replaced(clean, {"100", "1 " "6880-01" "aName"}), {"880", "1 " "6100-01" "aName"}), ""},
        {"880_without_link", with(clean, {"880", "1 " "aName"}), "broken-link"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(codes(findings(authorityRecord(row.fields), RuleSetting::Auto)), row.expected);
    }
    std::string badLeader = authorityRecord(clean);
    badLeader[17] = ' ';
    EXPECT_EQ(codesAndPositions(findings(badLeader, RuleSetting::Auto)), "bad-fixed-value@17");
}

TEST(RuleCheckTest, FindingsCarryWhereAndWhatForJsonLines)
{
    const std::string record = makeRecord(replaced(kCleanMarc21, {"245", "1x\x1f" "aA title"}));
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
    EXPECT_EQ(rulesOf(makeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}))), "marc21");
    EXPECT_EQ(rulesOf(makeRecord(with(kCleanUnimarc, {"248", "  \x1f" "ax"}))), "cnmarc");  // 801 $a CN
    EXPECT_EQ(rulesOf(makeRecord(with(replaced(kCleanUnimarc, {"801", " 0\x1f" "aFR"}), {"248", "  \x1f" "ax"}))),
              "unimarc");
    EXPECT_EQ(rulesOf(makeRecord(with(replaced(kCleanUnimarc, {"801", " 0\x1f" "aFR"}), {"248", "  \x1f" "ax"})),
                      CharsetSetting::Gbk),
              "cnmarc");
    // A clean record under auto has no finding at all.
    EXPECT_EQ(codes(findings(makeRecord(kCleanMarc21), RuleSetting::Auto)), "");
}

TEST(RuleCheckTest, RecordsNoRuleSetCoversGetOneNotice)
{
    for (const char type : {'u', 'v', 'x', 'y', 'w', 'q'}) {
        std::string record = makeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}));
        record[6] = type;
        const std::vector<CheckProblem> found = findings(record, RuleSetting::Auto);
        SCOPED_TRACE(std::string(1, type));
        EXPECT_EQ(codes(found), "no-rules");
        EXPECT_EQ(found.at(0).severity, Severity::Warning);
        EXPECT_EQ(found.at(0).rules, RuleSet::Marc21);
    }
    std::string authority = makeRecord(kCleanUnimarc);
    authority[6] = 'x';
    EXPECT_EQ(codes(findings(authority, RuleSetting::Unimarc)), "no-rules");
}

TEST(RuleCheckTest, StructuralProblemsComeFirstAndNoneLeavesTheCheckAsItWas)
{
    std::string record = makeRecord(with(kCleanMarc21, {"248", "  \x1f" "ax"}));
    record.replace(20, 4, "4501");
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21)), "entry-map undefined-field");
    const std::vector<CheckProblem> plain = findings(record, RuleSetting::None);
    EXPECT_EQ(codes(plain), "entry-map");
    EXPECT_EQ(plain[0].rules, RuleSet::None);
    EXPECT_EQ(findings(record, RuleSetting::Marc21)[0].rules, RuleSet::Marc21);
}

TEST(RuleCheckTest, EscapeIsAllowedInMarc8AndControlCharactersElsewhereAreNot)
{
    const std::string record = makeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aA \x1b(BLatin"}));
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21, CharsetSetting::Marc8)), "");
    EXPECT_EQ(codes(findings(record, RuleSetting::Marc21, CharsetSetting::Gbk)), "control-character");
}

TEST(RuleCheckTest, NonSortingMarksAreNoFault)
{
    // U+0098/U+009C in MARC 21, U+0088/U+0089 in UNIMARC, 0x88/0x89 in MARC-8:
    // neither invalid bytes nor control characters.
    EXPECT_EQ(codes(findings(makeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aAda \xc2\x98of\xc2\x9c"})),
                             RuleSetting::Marc21, CharsetSetting::Utf8)),
              "");
    EXPECT_EQ(codes(findings(makeRecord(replaced(kCleanUnimarc, {"200", "1 \x1f" "a\xc2\x88Il \xc2\x89" "ciclo"})),
                             RuleSetting::Unimarc, CharsetSetting::Utf8)),
              "");
    EXPECT_EQ(codes(findings(makeRecord(replaced(kCleanMarc21, {"245", "10\x1f" "aAda \x88of\x89"})),
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
    // Blanks before it, a lowercase x, a qualifier after it; too many digits;
    // an X in a thirteen-digit number.
    EXPECT_EQ(CheckIsbn("  080442957x (pbk.)"), NumberFault::None);
    EXPECT_EQ(CheckIsbn("97803064061570"), NumberFault::Length);
    EXPECT_EQ(CheckIsbn("978030640615X"), NumberFault::CheckDigit);
    EXPECT_EQ(CheckIsbn("0 306406152"), NumberFault::Length);
    EXPECT_EQ(CheckIssn("2049-3630"), NumberFault::None);
    EXPECT_EQ(CheckIssn("1050-124X"), NumberFault::None);
    EXPECT_EQ(CheckIssn("0378-5951"), NumberFault::CheckDigit);
    EXPECT_EQ(CheckIssn("0378-59"), NumberFault::Length);
}

}  // namespace

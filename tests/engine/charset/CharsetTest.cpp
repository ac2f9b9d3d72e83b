// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "charset/Charset.h"
#include "charset/CharsetInternal.h"
#include "charset/UnicodeWidth.h"
#include "display/DecodedText.h"
#include "display/DisplayText.h"
#include "iso2709/RecordFields.h"
#include "RecordFiles.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"

using namespace veltrane;
using testsupport::Field;
using testsupport::MakeRecord;

namespace {

/// A record whose leader byte 9 is `codingScheme`.
std::string recordWith(char codingScheme, const std::vector<Field>& fields)
{
    std::string record = MakeRecord(fields);
    record[9] = codingScheme;
    return record;
}

struct Assembled {
    explicit Assembled(const std::string& bytes)
    {
        fields.assemble(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    RecordFields fields;
};

std::string decode(TextCodec& codec, Charset charset, const std::string& bytes, std::size_t& invalid)
{
    std::string out;
    invalid = codec.decode(charset, {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, out);
    return out;
}

// CNMARC's general processing data: date of entry, type of date, ... and the
// character set at positions 26-27 ("50": ISO 10646, "01": ISO 646).
const std::string kUnimarc100Gbk = "  \x1f" "a20031205d1998    em y0chiy0110    ea";
const std::string kUnimarc100Utf8 = "  \x1f" "a20031205d1998    em y0chiy50      ba";
// Chinese names with characters outside GB2312 (镕, 喆, 堃, 赟) in GBK.
const std::string kGbkTitle = "\xd6\xec\xe9\x46\xbb\xf9\xbd\xb2\xbb\xb0\xca\xb5\xc2\xbc";  // 朱镕基讲话实录
const std::string kGbkNames[] = {"\xcd\xf5\x86\xb4", "\xc0\xee\x88\xd2", "\xd5\xc5\xda\x53"};  // 王喆 李堃 张赟
const std::string kHebrewUtf8 = "\xd7\xa8\xd7\xa6\xd7\x91\xd7\x99, \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d";  // רצבי, שלום

TEST(CharsetDetection, OneRowPerRule)
{
    const std::string marc8Diacritics = "\x1f" "aBu\xe2" "ecker, J\xe8" "urgen, \xf0" "cal\xe2" "e";
    struct Row {
        const char* name;
        std::string record;
        Charset charset;
        int rule;
    } rows[] = {
        {"1_marc21_declares_utf8", recordWith('a', {{"245", "10\x1f" "a" + kHebrewUtf8}}), Charset::Utf8, 1},
        {"1_even_with_invalid_bytes", recordWith('a', {{"245", "10\x1f" "a\xb1\xb1\xbe\xa9"}}), Charset::Utf8, 1},
        {"1_not_for_unimarc_then_gbk", recordWith('a', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + kGbkTitle}}),
         Charset::Gbk, 7},
        {"2_unimarc_declares_iso10646", recordWith(' ', {{"100", kUnimarc100Utf8}, {"200", "1 \x1f" "aCaf\xc3\xa9"}}),
         Charset::Utf8, 2},
        {"3_valid_utf8_despite_declaration", recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + kHebrewUtf8}}),
         Charset::Utf8, 3},
        {"3_needs_four_multibyte_sequences",
         recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\xc3\xa9t\xc3\xa9 \xc3\xa0"}}), Charset::Gbk, 7},
        {"4_escape_byte", recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\x1b(SaB\x1b(B"}}),
         Charset::Marc8, 4},
        {"5_marc21_diacritics_before_letters", recordWith(' ', {{"008", "850101s1985"}, {"245", "10" + marc8Diacritics}}),
         Charset::Marc8, 5},
        {"5_soft_sign_before_a_ligature", recordWith(' ', {{"245", "10\x1f" "aItal\xa7\xebi\xec" "anskie stikhi"}}),
         Charset::Marc8, 5},
        {"5_needs_245_or_008", recordWith(' ', {{"100", "1 " + marc8Diacritics}}), Charset::Gbk, 7},
        {"5_needs_blank_leader_byte", recordWith('z', {{"245", "10" + marc8Diacritics}}), Charset::Gbk, 7},
        {"5_gbk_chinese_with_rare_names_stays_gbk",
         recordWith(' ', {{"008", "850101s1985    ch"}, {"100", "1 \x1f" "a" + kGbkNames[0]},
                          {"245", "10\x1f" "a" + kGbkTitle + "\x1f" "c" + kGbkNames[1] + " " + kGbkNames[2]}}),
         Charset::Gbk, 7},
        {"5_gbk_names_alone_stay_gbk",
         recordWith(' ', {{"245", "10\x1f" "a" + kGbkNames[0] + kGbkNames[1] + kGbkNames[2] + "\xd6\xec\xe9\x46\xbb\xf9"}}),
         Charset::Gbk, 7},
        {"6_gb18030_four_byte_sequence",
         recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\xd6\xd0\x81\x30\x85\x38"}}), Charset::Gb18030, 6},
        {"6_not_from_a_trail_byte", recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\xd6\x81" "1\xb0" "2"}}),
         Charset::Gbk, 7},
        {"7_gbk_cnmarc", recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + kGbkTitle}}), Charset::Gbk, 7},
        {"7_ascii_only", recordWith(' ', {{"245", "10\x1f" "aPlain"}}), Charset::Gbk, 7},
    };
    for (const Row& row : rows) {
        const Assembled record(row.record);
        const CharsetDecision decision = DetectCharset(record.fields);
        EXPECT_EQ(decision.charset, row.charset) << row.name;
        EXPECT_EQ(CharsetRuleNumber(decision.rule), row.rule) << row.name;
    }
}

TEST(CharsetDetection, AFourByteFormCountsWhereverItStandsInALongField)
{
    // The scans take 16 and 32 positions at a time: the form at every place
    // of a long field of GBK pairs, across each block's end, is found; behind
    // a lone lead byte, where its first byte is a trail byte, it is not.
    const std::string pairs = kGbkTitle + kGbkTitle + kGbkTitle + kGbkTitle;
    for (std::size_t at = 0; at <= pairs.size(); at += 2) {
        const std::string text = pairs.substr(0, at) + "\x81\x30\x85\x38" + pairs.substr(at);
        const Assembled found(recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + text}}));
        EXPECT_EQ(DetectCharset(found.fields).charset, Charset::Gb18030) << "at " << at;
        const std::string behindALead = pairs.substr(0, at) + "\xd6\x81" "1\xb0" "2" + pairs.substr(at);
        const Assembled trail(recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + behindALead}}));
        EXPECT_EQ(DetectCharset(trail.fields).charset, Charset::Gbk) << "at " << at;
    }
}

TEST(CharsetDetection, FieldsWhereTheyStandDecideAsRecordFields)
{
    // Records of random fields, in every set and with the pieces the rules
    // look for across the ends of fields; each decided from its assembled
    // fields and from its fields where they stand.
    const std::string pieces[] = {"plain ", "\x1f" "a", "$a", "0", "9", kGbkTitle, kGbkNames[0], kHebrewUtf8,
                                  "\xc3\xa9", "\xe4\xb8", "\x1b(S", "\xe1" "e", "\xa7\xeb", "\x81\x30\x85\x38",
                                  "\xd6", "\x81", "\xff", "\x80"};
    const std::string tags[] = {"001", "008", "100", "200", "245", "500", "abc"};
    std::mt19937 random(709);
    std::vector<std::span<const unsigned char>> scratch;
    for (int n = 0; n < 5000; ++n) {
        std::vector<Field> fields;
        for (int f = static_cast<int>(random() % 6); f >= 0; --f) {
            std::string body;
            if (random() % 4 == 0)
                body = random() % 2 ? kUnimarc100Gbk : kUnimarc100Utf8;
            for (int k = static_cast<int>(random() % 8); k > 0; --k)
                body += pieces[random() % std::size(pieces)];
            fields.push_back({tags[random() % std::size(tags)], body});
        }
        const char schemes[] = {' ', 'a', 'z'};
        const std::string record = recordWith(schemes[random() % 3], fields);
        const Assembled assembled(record);
        // The fields where the record holds them, back to back.
        const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
        const std::size_t base = std::stoul(record.substr(12, 5));
        std::vector<FieldView> views;
        for (std::size_t entry = 24; entry + 1 < base; entry += 12)
            views.push_back({std::string_view(record).substr(entry, 3),
                             {bytes + base + std::stoul(record.substr(entry + 7, 5)), std::stoul(record.substr(entry + 3, 4))}});
        ASSERT_EQ(views.size(), assembled.fields.fields().size());
        const CharsetDecision whole = DetectCharset(assembled.fields);
        const CharsetDecision inPlace =
            DetectCharset(std::span<const unsigned char, kLeaderLength>(bytes, kLeaderLength), views, scratch);
        ASSERT_EQ(inPlace.charset, whole.charset) << testing::PrintToString(record);
        ASSERT_EQ(inPlace.rule, whole.rule) << testing::PrintToString(record);
    }
}

TEST(CharsetDetection, ShapeAndSettings)
{
    struct Row {
        const char* name;
        std::string field100;
        bool unimarc;
    } rows[] = {
        {"digits_then_letter", kUnimarc100Gbk, true},
        {"blanks_then_letter", "  \x1f" "a        d", true},
        {"printable_delimiter", "  $a20031205d1998", true},
        {"uppercase_type", "  \x1f" "a20031205D1998", false},
        {"letter_in_date", "  \x1f" "a2003x205d1998", false},
        {"no_subfield_a", "  \x1f" "b20031205d1998", false},
        {"marc21_name", "1 \x1f" "aSmith, John", false},
    };
    for (const Row& row : rows) {
        const Assembled record(MakeRecord({{"100", row.field100}}));
        EXPECT_EQ(IsUnimarcShaped(record.fields), row.unimarc) << row.name;
    }
    const Assembled hebrew(recordWith('a', {{"245", "10\x1f" "a" + kHebrewUtf8}}));
    EXPECT_EQ(ChooseCharset(CharsetSetting::Gb18030, hebrew.fields).charset, Charset::Gb18030);
    EXPECT_EQ(ChooseCharset(CharsetSetting::Gb18030, hebrew.fields).rule, CharsetRule::None);
    EXPECT_EQ(ChooseCharset(CharsetSetting::Auto, hebrew.fields).rule, CharsetRule::Marc21Utf8Leader);
    for (CharsetSetting s : {CharsetSetting::Auto, CharsetSetting::Gbk, CharsetSetting::Gb18030, CharsetSetting::Utf8,
                             CharsetSetting::Marc8})
        EXPECT_EQ(ParseCharsetSetting(CharsetSettingName(s)), s);
    EXPECT_EQ(ParseCharsetSetting("UTF-8"), CharsetSetting::Utf8);
    EXPECT_EQ(ParseCharsetSetting("latin1"), std::nullopt);
    EXPECT_EQ(ParseCharsetSetting("utf-"), std::nullopt);
}

TEST(CharsetDetection, RecordsOfAsciiAreToldAsAsciiUnderTheAutomaticSettingOnly)
{
    struct Row {
        const char* name;
        std::string record;
        CharsetSetting setting;
        std::string_view told;
        CharsetRule rule;
        Charset readIn;  // the set the record is still read in
    } rows[] = {
        {"plain_marc21", recordWith(' ', {{"245", "10\x1f" "aPlain"}}), CharsetSetting::Auto, "ascii", CharsetRule::None,
         Charset::Gbk},
        {"declared_utf8", recordWith('a', {{"245", "10\x1f" "aPlain"}}), CharsetSetting::Auto, "ascii",
         CharsetRule::None, Charset::Utf8},
        {"unimarc_declared_utf8", MakeRecord({{"100", "  \x1f" "a20031205d1998    em y0chiy5050    ea"}}),
         CharsetSetting::Auto, "ascii", CharsetRule::None, Charset::Utf8},
        {"controls_and_del", recordWith(' ', {{"245", "10\x1f" "a\x01\x7f"}}), CharsetSetting::Auto, "ascii",
         CharsetRule::None, Charset::Gbk},
        {"named_set", recordWith(' ', {{"245", "10\x1f" "aPlain"}}), CharsetSetting::Gbk, "gbk", CharsetRule::None,
         Charset::Gbk},
        {"escape", recordWith(' ', {{"245", "10\x1f" "a\x1b" "b2\x1b" "s"}}), CharsetSetting::Auto, "marc-8",
         CharsetRule::Escape, Charset::Marc8},
        {"one_high_byte", recordWith(' ', {{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\xd6\xd0"}}),
         CharsetSetting::Auto, "gbk", CharsetRule::GbkOtherwise, Charset::Gbk},
    };
    for (const Row& row : rows) {
        const Assembled record(row.record);
        const CharsetDecision decision = ChooseCharset(row.setting, record.fields);
        EXPECT_EQ(decision.charset, row.readIn) << row.name;
        const ToldCharset told = TellCharset(row.setting, decision, record.fields);
        EXPECT_EQ(told.name, row.told) << row.name;
        EXPECT_EQ(told.rule, row.rule) << row.name;
    }
    // A high byte in the leader is no ASCII either.
    std::string leader = recordWith(' ', {{"245", "10\x1f" "aPlain"}});
    leader[7] = '\xe9';
    const Assembled highLeader(leader);
    EXPECT_FALSE(HoldsOnlyAscii(highLeader.fields));
}

TEST(CharsetDetection, EachRecordOfAMixedFileOnItsOwn)
{
    const std::string file =
        MakeRecord({{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a" + kGbkTitle}}) +
        recordWith('a', {{"245", "10\x1f" "a" + kHebrewUtf8}}) +
        recordWith(' ', {{"008", "850101s1985"}, {"245", "10\x1f" "aBu\xe2" "ecker, J\xe8" "urgen"}}) +
        recordWith(' ', {{"245", "10\x1f" "a\x1b" "b2\x1b" "s"}}) +
        MakeRecord({{"100", kUnimarc100Gbk}, {"200", "1 \x1f" "a\x81\x30\x85\x38" + kGbkTitle}});
    testsupport::TempDir dir;
    const int fd = ::open(dir.write("mixed.mrc", file).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    RecordStream stream(fd);
    FramedRecord framed;
    RecordFields record;
    std::vector<std::pair<Charset, int>> decisions;
    while (stream.next(framed) == RecordStream::Step::Record) {
        record.assemble(framed.bytes.data(), framed.bytes.size());
        const CharsetDecision d = DetectCharset(record);
        decisions.emplace_back(d.charset, CharsetRuleNumber(d.rule));
    }
    ::close(fd);
    const std::vector<std::pair<Charset, int>> expected = {
        {Charset::Gbk, 7}, {Charset::Utf8, 1}, {Charset::Marc8, 5}, {Charset::Marc8, 4}, {Charset::Gb18030, 6}};
    EXPECT_EQ(decisions, expected);
}

TEST(CharsetDetection, BundledSampleStaysGbk)
{
    const int fd = ::open(VELTRANE_SOURCE_DIR "/samples/sample.mrc", O_RDONLY);
    ASSERT_GE(fd, 0);
    RecordStream stream(fd);
    FramedRecord framed;
    RecordFields record;
    int records = 0;
    while (stream.next(framed) == RecordStream::Step::Record) {
        record.assemble(framed.bytes.data(), framed.bytes.size());
        EXPECT_EQ(DetectCharset(record).charset, Charset::Gbk) << "record " << framed.number;
        ++records;
    }
    ::close(fd);
    EXPECT_EQ(records, 3);
}

TEST(TextCodec, DecodesEachSetAndCountsInvalidBytes)
{
    const std::string r = "\xef\xbf\xbd";  // U+FFFD
    struct Row {
        const char* name;
        Charset charset;
        std::string bytes;
        std::string utf8;
        std::size_t invalid;
    } rows[] = {
        {"utf8_valid", Charset::Utf8, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", 0},
        {"utf8_overlong", Charset::Utf8, "\xc0\xaf" "a", r + r + "a", 2},
        {"utf8_surrogate", Charset::Utf8, "\xed\xa0\x80", r + r + r, 3},
        {"utf8_above_10ffff", Charset::Utf8, "\xf4\x90\x80\x80", r + r + r + r, 4},
        {"utf8_cut_sequence_is_one_replacement", Charset::Utf8, "\xe4\xb8" "a\xe4", r + "a" + r, 3},
        {"utf8_nul_passes", Charset::Utf8, std::string("a\0b", 3), std::string("a\0b", 3), 0},
        {"gbk_chinese", Charset::Gbk, "\xb1\xb1\xbe\xa9", "\xe5\x8c\x97\xe4\xba\xac", 0},
        {"gbk_bad_bytes_then_goes_on", Charset::Gbk, "\xff\xb1\xb1" "a\xb1", r + "\xe5\x8c\x97" "a" + r, 2},
        {"gbk_has_no_four_byte_form", Charset::Gbk, "\x81\x30\x85\x38", r + "0" + r + "8", 2},
        // Codes the C library refuses show as code page 936's Private Use
        // characters, yet count as invalid as they always counted.
        {"gbk_user_defined_areas", Charset::Gbk, "\xaa\xa1\xaf\xfe\xf8\xa1\xfe\xfe\xa1\x40\xa7\xa0",
         "\xee\x80\x80\xee\x88\xb3\xee\x88\xb4\xee\x93\x85\xee\x93\x86\xee\x9d\xa5", 7},
        {"gbk_empty_places_of_other_rows", Charset::Gbk, "\xa2\xab\xd7\xfa\xfe\x80\xfe\xa0" "a",
         "\xee\x9d\xa6\xee\xa0\x90\xee\xa1\x84\xee\xa1\xa4" "a", 6},
        {"gb18030_four_byte", Charset::Gb18030, "\x81\x30\x85\x38" "a", "\xc2\xb5" "a", 0},
        {"gb18030_cut_four_byte", Charset::Gb18030, "a\x81\x30", "a" + r + "0", 1},
        {"marc8_diacritic_follows_its_letter", Charset::Marc8, "\xe2" "e", "e\xcc\x81", 0},
        {"marc8_greek_then_back", Charset::Marc8, "\x1b(SaB\x1b(Bx", "\xce\xb1\xce\x92x", 0},
        {"marc8_eacc", Charset::Marc8, "\x1b$1\x21\x30\x21\x1b(B", "\xe4\xb8\x80", 0},
        {"marc8_unknown_escape_is_replaced_and_goes_on", Charset::Marc8, "a\x1b(Zbc", "a" + r + "bc", 3},
        {"marc8_unknown_escape_keeps_the_set_before", Charset::Marc8, "\x1b(Sa\x1b(Za", "\xce\xb1" + r + "\xce\xb1", 3},
        {"marc8_unmapped_byte", Charset::Marc8, "a\xff" "b", "a" + r + "b", 1},
        {"marc8_diacritic_without_base", Charset::Marc8, "ab\xe2", "ab" + r, 1},
        {"marc8_cut_eacc", Charset::Marc8, "\x1b$1\x21\x30", r, 2},
        {"marc8_eacc_cut_by_a_space", Charset::Marc8, "\x1b$1\x21\x30 \x21\x30\x21", r + " \xe4\xb8\x80", 2},
        {"marc8_ligature_halves", Charset::Marc8, "\xeb" "i\xec" "a", "i\xcd\xa1" "a", 0},
        {"marc8_cut_escape", Charset::Marc8, "a\x1b(", "a" + r, 2},
        {"marc8_control_passes", Charset::Marc8, "a\x0a" "b", "a\nb", 0},
    };
    TextCodec codec;
    for (const Row& row : rows) {
        std::size_t invalid = 0;
        EXPECT_EQ(decode(codec, row.charset, row.bytes, invalid), row.utf8) << row.name;
        EXPECT_EQ(invalid, row.invalid) << row.name;
    }
}

TEST(TextCodec, CountingAgreesWithDecoding)
{
    // Random runs drawn from bytes each scan treats apart: ASCII and digits
    // (GB18030's four-byte forms), leads, trails, bytes no set starts with,
    // and UTF-8 leads and continuations; long runs of Chinese text take the
    // scans' block paths.
    const std::string pieces[] = {"a", "0", "9", "\x1f", "\x1b", "\x7f", "\x80", "\xff", "\x81", "\xa1", "\xd7",
                                  "\xfe", "\x40", "\xc3", "\xe4\xb8", "\xf0\x9f", "\xbf", "\xed\xa0",
                                  "\xd7\xfa", "\xb0\xa1", "\x81\x30\x85\x38", "\xaa\xa1", "\xf8\xa1"};
    const std::string chinese = "\xb1\xb1\xbe\xa9\xd6\xec\xe9\x46\x86\xb4\xc0\xee";
    std::mt19937 random(2709);
    TextCodec codec;
    for (int n = 0; n < 20000; ++n) {
        std::string bytes;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            bytes += random() % 4 == 0 ? chinese : pieces[random() % std::size(pieces)];
        // Runs of pairs of bytes 0xA1-0xFE take the range-tested block path;
        // some have leads whose rows are full, some not (0xD7 stops at 0xF9,
        // user-defined and symbol rows have gaps).
        // ASCII now and then starts the next run at an odd place, as subfield
        // codes and digits do in records.
        if (random() % 2 == 0) {
            const int pairs = static_cast<int>(random() % 100);
            for (int k = 0; k < pairs; ++k) {
                if (random() % 8 == 0)
                    bytes += "a5 $"[random() % 4];
                const unsigned lead = random() % 8 == 0 ? 0xA1 + random() % 0x5E
                                      : random() % 4 == 0 ? 0xD7
                                                          : 0xB0 + random() % 0x48;
                bytes += static_cast<char>(lead);
                bytes += static_cast<char>(random() % 16 == 0 ? 0xFA + random() % 5 : 0xA1 + random() % 0x5E);
            }
        }
        // Long runs of hanzi from the full rows, broken at one place by a pair
        // the block tests may not pass alone (the last trails of row 0xD7,
        // symbol rows, GBK's own pairs) or by a byte that starts nothing.
        if (random() % 4 == 0) {
            const std::string breaks[] = {"\xd7\xfa", "\xd7\xfe", "\xd7\xf9", "\xa1\xa1", "\xaa\xa1",
                                          "\x81\x40", "\xff", "\x80", "\xa3\xac", "1"};
            const int before = 20 + static_cast<int>(random() % 60), after = static_cast<int>(random() % 60);
            for (int k = 0; k < before + after; ++k) {
                if (k == before)
                    bytes += breaks[random() % std::size(breaks)];
                const unsigned lead = random() % 2 == 0 ? 0xB0 + random() % 0x27 : 0xD8 + random() % 0x20;
                bytes += static_cast<char>(lead);
                bytes += static_cast<char>(0xA1 + random() % 0x5E);
            }
        }
        for (Charset charset : {Charset::Gbk, Charset::Gb18030, Charset::Utf8, Charset::Marc8}) {
            std::size_t decoded = 0;
            decode(codec, charset, bytes, decoded);
            const std::size_t counted =
                codec.countInvalid(charset, {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
            ASSERT_EQ(counted, decoded) << CharsetName(charset) << " " << testing::PrintToString(bytes);
            if (charset == Charset::Gbk) {
                // The record check's one pass gives the same count and finds
                // what the automatic rules look for.
                const TextScan scan =
                    codec.scanText({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
                ASSERT_EQ(scan.invalidGbk, decoded) << testing::PrintToString(bytes);
                bool high = false, highBeforeDigit = false;
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    const bool isHigh = static_cast<unsigned char>(bytes[i]) >= 0x80;
                    high |= isHigh;
                    highBeforeDigit |= isHigh && i + 1 < bytes.size() && bytes[i + 1] >= '0' && bytes[i + 1] <= '9';
                }
                ASSERT_EQ(scan.high, high) << testing::PrintToString(bytes);
                ASSERT_EQ(scan.escape, bytes.find('\x1b') != std::string::npos) << testing::PrintToString(bytes);
                ASSERT_EQ(scan.highBeforeDigit, highBeforeDigit) << testing::PrintToString(bytes);
            }
        }
    }
}

TEST(TextCodec, EscapeStateEndsWithTheRun)
{
    TextCodec codec;
    std::size_t invalid = 0;
    EXPECT_EQ(decode(codec, Charset::Marc8, "\x1b(Sa", invalid), "\xce\xb1");
    EXPECT_EQ(decode(codec, Charset::Marc8, "a", invalid), "a");
    EXPECT_EQ(decode(codec, Charset::Marc8, "\x1b(Za", invalid), "\xef\xbf\xbd" "a");
    EXPECT_EQ(decode(codec, Charset::Marc8, "\xe2" "a", invalid), "a\xcc\x81");
}

TEST(TextCodec, EncodesWhatTheSetHolds)
{
    struct Row {
        const char* name;
        Charset charset;
        std::string utf8;
        std::optional<std::string> bytes;
    } rows[] = {
        {"gbk", Charset::Gbk, "a\xe5\x8c\x97", std::string("a\xb1\xb1")},
        {"gbk_rare_name", Charset::Gbk, "\xe5\x96\x86", std::string("\x86\xb4")},
        {"gbk_cannot_hold_hebrew", Charset::Gbk, "\xd7\xa8", std::nullopt},
        {"gb18030_holds_hebrew", Charset::Gb18030, "\xd7\xa8", std::string("\x81\x30\xfb\x36")},
        {"utf8_as_is", Charset::Utf8, "\xd7\xa8", std::string("\xd7\xa8")},
        {"invalid_utf8_input", Charset::Gbk, "\xc0\xaf", std::nullopt},
        {"marc8_is_searched_as_text", Charset::Marc8, "a", std::nullopt},
    };
    TextCodec codec;
    for (const Row& row : rows)
        EXPECT_EQ(codec.encode(row.charset, row.utf8), row.bytes) << row.name;
}

TEST(DecodedDisplay, DisplayWidthClasses)
{
    struct Row {
        char32_t cp;
        int width;
    } rows[] = {
        {U'a', 1},     {0x05D0, 1},   {0x4E00, 2},  {0x3000, 2},  {0xFF21, 2},    {0x20000, 2}, {0x1F600, 2},
        {0x0301, 0},   {0x20DD, 0},   {0x200B, 0},  {0x200D, 0},  {0x302A, 0},    {0x0903, 1},  {0xFFFD, 1},
        {0x00E9, 1},   {0x1100, 2},   {0xAC00, 2},  {0x2400, 1},  {0x10FFFF, 1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DisplayWidth(row.cp), row.width) << std::hex << static_cast<unsigned>(row.cp);
}

// The width classes as the generated ranges give them, looked up one range at
// a time: the display's block table must give the same for every code point.
enum WidthClass { kMark, kFormat, kSpacingMark, kWide };
struct WidthRange {
    char32_t first, last;
    WidthClass kind;
};
constexpr WidthRange kWidthRanges[] = {
#include "charset/UnicodeWidth.generated.inc"
};

TEST(DecodedDisplay, WidthsAndClustersOfEveryCodePointFollowTheRanges)
{
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        int width = 1;
        bool extender = cp == 0x200C || cp == 0x200D;
        for (const WidthRange& r : kWidthRanges) {
            if (cp < r.first || cp > r.last)
                continue;
            width = r.kind == kWide ? 2 : r.kind == kSpacingMark ? 1 : 0;
            extender = extender || r.kind == kMark || r.kind == kSpacingMark;
        }
        extender = extender && cp >= 0x300;
        ASSERT_EQ(DisplayWidth(cp), width) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(IsClusterExtender(cp), extender) << std::hex << static_cast<unsigned>(cp);
        if (cp == 0x3FFFF)
            cp = 0xDFFFF;  // nothing is assigned in planes 4 to 13
    }
}

std::string renderDecoded(Charset charset, const std::vector<Field>& fields, std::size_t* invalid = nullptr,
                          DelimiterMode mode = dmNormal)
{
    static TextCodec codec;
    const Assembled record(MakeRecord(fields, static_cast<char>(FieldTerminator(mode))));
    const DecodedDisplay d =
        RenderDecodedDisplayText(codec, charset, record.fields, FieldTerminator(mode), SubfieldDelimiter(mode));
    if (invalid != nullptr)
        *invalid = d.invalidBytes;
    return d.text;
}

TEST(DecodedDisplay, Utf8TextLaysOutAsTheSameTextInGb18030)
{
    // UTF-8 is laid out straight from the record's bytes, GB18030 through the
    // converter: the same text must give the same display. Pieces mix ASCII,
    // marks after letters and after CJK, joiners, controls, C1 controls, wide
    // and four-byte characters, in lines long enough to wrap.
    const std::string pieces[] = {"a", "word ", "1", "\x1f" "b", "\x01", "\x7f", "\xc2\x85", "\xc3\xa9",
                                  "e\xcc\x81", "\xcc\x81\xcc\x82", "\xe4\xb8\xad", "\xe6\x96\x87\xe3\x82\x99",
                                  "\xe2\x80\x8d", "\xf0\x9f\x98\x80", "\xf0\xa0\x80\x80", "\xd7\xa8",
                                  "\xe0\xa4\x95\xe0\xa4\xbf", "\xef\xbf\xbd", "\xc2\xad", "$", "\xd0\x96"};
    std::mt19937 random(1709);
    TextCodec codec;
    for (int n = 0; n < 400; ++n) {
        std::vector<Field> utf8, gb18030;
        const int fieldCount = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < fieldCount; ++f) {
            std::string text = "10\x1f" "a";
            const int length = static_cast<int>(random() % 120);
            for (int k = 0; k < length; ++k)
                text += pieces[random() % std::size(pieces)];
            const std::optional<std::string> encoded = codec.encode(Charset::Gb18030, text);
            ASSERT_TRUE(encoded.has_value());
            utf8.push_back({"245", text});
            gb18030.push_back({"245", *encoded});
        }
        std::size_t invalidUtf8 = 1, invalidGb18030 = 1;
        ASSERT_EQ(renderDecoded(Charset::Utf8, utf8, &invalidUtf8), renderDecoded(Charset::Gb18030, gb18030, &invalidGb18030));
        EXPECT_EQ(invalidUtf8, 0u);
        EXPECT_EQ(invalidGb18030, 0u);
    }
}

TEST(DecodedDisplay, Utf8SinglePassMatchesDecodingRunByRun)
{
    // UTF-8 records are laid out in one pass over their bytes; every other set
    // decodes each run through the codec and lays the lines out after. Random
    // records mixing valid text, marks, wide and four-byte characters with
    // ill-formed and cut sequences, controls, delimiters and stray
    // terminators, some with no terminator at a field's end (so a sequence or a
    // cluster reaches into the next tag) and tags of high bytes, must show the
    // same text and count the same invalid bytes both ways, appended after
    // what the buffer held.
    const std::string pieces[] = {"a", "word ", "Z9", "\x1f" "b", "\x1f" " ", "\x1f", "$a", "$ ", "#", "\x1e",
                                  "\x01", "\x7f", "\xc2\x85", "\xc3\xa9", "e\xcc\x81", "\xcc\x81\xcc\x82",
                                  "\xe4\xb8\xad", "\xe6\x96\x87\xe3\x82\x99", "\xe2\x80\x8d", "\xe2\x80\x8c",
                                  "\xf0\x9f\x98\x80", "\xd7\xa8", "\xe0\xa4\x95\xe0\xa4\xbf\xe0\xa4\x83",
                                  "\xef\xbf\xbd", "\xc2\xad", "\xd0\x96", "\xce\xb1\xcd\x82", "\xe3\x81\xae",
                                  "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe4\xb8", "\xf0\x9f\x98",
                                  "\xff", "\x80", "\xcc", "\xe1\xbf\x81", "\xf0\x9d\x85\xa5", "\xf0\x91\x84\x80",
                                  std::string(70, 'x'),
                                  "\xe0\xa4\xbe\xe0\xa4\xbe\xe0\xa4\xbe\xe0\xa4\xbe\xe0\xa4\xbe\xe0\xa4\xbe"};
    const std::string tags[] = {"245", "\xcc\x81" "1", "\xb8\xad" "0", "\x1f" "ab", "a\xe4\xb8", "\x1e" "12", "1\xce\xb1"};
    std::mt19937 random(4711);
    TextCodec codec;
    for (int n = 0; n < 3000; ++n) {
        const DelimiterMode mode = *DelimiterModeFromNumber(static_cast<int>(random() % 3));
        const char terminator = static_cast<char>(FieldTerminator(mode));
        std::vector<Field> fields;
        const int fieldCount = 1 + static_cast<int>(random() % 5);
        for (int f = 0; f < fieldCount; ++f) {
            std::string text;
            const int length = static_cast<int>(random() % 90);
            for (int k = 0; k < length; ++k) {
                std::string piece = pieces[random() % std::size(pieces)];
                // Long runs of one mark make clusters wider than a line.
                if (random() % 200 == 0)
                    for (int r = 0; r < 5; ++r)
                        piece += piece;
                text += piece;
            }
            fields.push_back({tags[random() % 4 == 0 ? random() % std::size(tags) : 0], text});
        }
        std::string bytes = MakeRecord(fields, terminator);
        // Some field ends lose their terminator: the field runs on into the next tag.
        const std::size_t base = std::stoul(bytes.substr(12, 5));
        for (std::size_t at = base; at < bytes.size(); ++at)
            if (bytes[at] == terminator && random() % 3 == 0)
                bytes[at] = "\xe4\xb8\xcc\x81" "a"[random() % 5];
        // Some records are cut short, parting a field from its end.
        if (random() % 8 == 0)
            bytes.resize(base + (bytes.size() - base) * (random() % 100) / 100);
        const Assembled record(bytes);
        std::string single = "kept", general = "kept";
        const std::size_t singleInvalid = RenderDecodedDisplayText(codec, Charset::Utf8, record.fields,
                                                                   FieldTerminator(mode), SubfieldDelimiter(mode), single);
        const std::size_t generalInvalid = RenderDecodedDisplayTextByRuns(
            codec, Charset::Utf8, record.fields, FieldTerminator(mode), SubfieldDelimiter(mode), general);
        ASSERT_EQ(single, general) << "record " << n << " mode " << DelimiterModeNumber(mode);
        ASSERT_EQ(singleInvalid, generalInvalid) << "record " << n << " mode " << DelimiterModeNumber(mode);
        // The record-at-a-time form gives the same text.
        const DecodedDisplay whole = RenderDecodedDisplayText(codec, Charset::Utf8, record.fields,
                                                              FieldTerminator(mode), SubfieldDelimiter(mode));
        ASSERT_EQ("kept" + whole.text, single);
        ASSERT_EQ(whole.invalidBytes, singleInvalid);
    }
}

TEST(DecodedDisplay, AsciiRecordsLayOutAsTheBytesDo)
{
    std::string k200;
    while (k200.size() < 200)
        k200 += "abcdefghijklmnopqrstuvwxyz";
    k200.resize(200);
    const std::vector<std::vector<Field>> records = {
        {{"001", "c01"}, {"200", "1 \x1f" "aTitle text\x1f" "fAuth"}},
        {{"300", std::string(74, 'x')}, {"001", "ab"}},
        {{"200", k200}, {"215", "  \x1f" "a12 p."}},
        {{"200", std::string(146, 'y')}, {"001", "z"}},
        {{"200", "\x1f \x1f" "b\x1f"}},
    };
    for (Charset charset : {Charset::Gbk, Charset::Gb18030, Charset::Utf8, Charset::Marc8}) {
        for (DelimiterMode mode : {dmNormal, dmSpecial1}) {
            for (const auto& fields : records) {
                std::vector<Field> own = fields;
                if (mode == dmSpecial1)
                    for (Field& f : own)
                        for (char& c : f.body)
                            c = c == '\x1f' ? '$' : c;
                const Assembled record(MakeRecord(own, static_cast<char>(FieldTerminator(mode))));
                static DisplayText bytes;
                bytes.clear();
                RenderDisplayText(bytes, record.fields.bytes().data(), record.fields.bytes().size(),
                                  FieldTerminator(mode), SubfieldDelimiter(mode));
                std::string expected(bytes.text());
                // The unit separator before a blank shows as its picture.
                for (std::size_t at; (at = expected.find('\x1f')) != std::string::npos;)
                    expected.replace(at, 1, "\xe2\x90\x9f");
                EXPECT_EQ(renderDecoded(charset, own, nullptr, mode), expected)
                    << CharsetName(charset) << " mode " << DelimiterModeNumber(mode) << " " << own.front().body.substr(0, 20);
            }
        }
    }
}

TEST(DecodedDisplay, WrapsByColumnsAndKeepsCharactersWhole)
{
    const std::string wrap = "\n     ";
    const std::string wide = "\xe4\xb8\xad";     // 中, two columns
    const std::string acute = "\xcc\x81";        // combining acute accent, no column
    const std::string alef = "\xd7\x90";         // א, one column, two bytes
    struct Row {
        const char* name;
        Charset charset;
        std::vector<Field> fields;
        std::string expected;
        std::size_t invalid = 0;
    } rows[] = {
        {"multibyte_letters_count_one_column", Charset::Utf8, {{"200", std::string(37, 'a') + [&] {
             std::string s;
             for (int i = 0; i < 40; ++i)
                 s += alef;
             return s;
         }()}},
         "200" + std::string(37, 'a') + [&] {
             std::string s;
             for (int i = 0; i < 37; ++i)
                 s += alef;
             return s;
         }() + wrap + alef + alef + alef + "\n"},
        {"wide_character_at_column_76_moves_on", Charset::Utf8, {{"200", std::string(73, 'a') + wide + "b"}},
         "200" + std::string(73, 'a') + wrap + wide + "b\n"},
        {"wide_character_ending_at_column_77_stays", Charset::Utf8, {{"200", std::string(72, 'a') + wide + "b"}},
         "200" + std::string(72, 'a') + wide + wrap + "b\n"},
        {"wide_character_at_the_end_makes_no_empty_line", Charset::Utf8, {{"200", std::string(72, 'a') + wide}},
         "200" + std::string(72, 'a') + wide + "\n"},
        {"mark_stays_with_its_base_at_column_77", Charset::Utf8, {{"200", std::string(73, 'a') + "e" + acute + "b"}},
         "200" + std::string(73, 'a') + "e" + acute + wrap + "b\n"},
        {"wide_base_with_mark_moves_together", Charset::Utf8, {{"200", std::string(73, 'a') + wide + acute}},
         "200" + std::string(73, 'a') + wrap + wide + acute + "\n"},
        {"continuation_lines_hold_72_columns", Charset::Utf8, {{"200", std::string(74 + 36, 'a') + wide + wide}},
         "200" + std::string(74, 'a') + wrap + std::string(36, 'a') + wide + wide + "\n"},
        {"marc8_mark_moved_after_its_letter", Charset::Marc8, {{"200", std::string(73, 'a') + "\xe2" "eb"}},
         "200" + std::string(73, 'a') + "e" + acute + wrap + "b\n"},
        {"marc8_escape_state_starts_fresh_per_field", Charset::Marc8,
         {{"200", "\x1f" "a\x1b(Sa"}, {"201", "\x1f" "aa"}}, "200$a\xce\xb1\n201$aa\n"},
        {"marc8_subfield_code_is_ascii", Charset::Marc8, {{"200", "\x1f" "a\x1b(Sa\x1f" "ba"}},
         "200$a\xce\xb1$ba\n"},
        {"controls_show_as_pictures", Charset::Utf8, {{"200", std::string("a\0b\x1b" "c\x7f\x0a", 7) + "\xc2\x85"}},
         "200a\xe2\x90\x80" "b\xe2\x90\x9b" "c\xe2\x90\xa1\xe2\x90\x8a\xef\xbf\xbd\n"},
        // Non-sorting marks show as a visible pair, with no invalid byte.
        {"non_sorting_marks_marc21_utf8", Charset::Utf8, {{"100", "\x1f" "aAda \xc2\x98of\xc2\x9c"}},
         "100$aAda \xe2\x9f\xa6of\xe2\x9f\xa7\n"},
        {"non_sorting_marks_unimarc_utf8", Charset::Utf8, {{"200", "\x1f" "a\xc2\x88Il \xc2\x89" "ciclo"}},
         "200$a\xe2\x9f\xa6Il \xe2\x9f\xa7" "ciclo\n"},
        {"non_sorting_marks_marc8", Charset::Marc8, {{"100", "\x1f" "aAda \x88of\x89"}},
         "100$aAda \xe2\x9f\xa6of\xe2\x9f\xa7\n"},
        {"gbk_lead_bytes_0x88_0x89_stay_characters", Charset::Gbk, {{"200", "\x1f" "a\x88\x40\x89\x40"}},
         "200$a\xe5\x9c\x92\xe5\xa0\xbe\n"},
        {"invalid_bytes_counted", Charset::Utf8, {{"200", "\x1f" "a\xff\xfe"}, {"201", "\xc3"}},
         "200$a\xef\xbf\xbd\xef\xbf\xbd\n201\xef\xbf\xbd\n", 3},
        {"gbk_lead_byte_before_delimiter", Charset::Gbk, {{"200", "\xb1\x1f" "a\xb1\xb1"}},
         "200\xef\xbf\xbd$a\xe5\x8c\x97\n", 1},
    };
    for (const Row& row : rows) {
        std::size_t invalid = 0;
        EXPECT_EQ(renderDecoded(row.charset, row.fields, &invalid), row.expected) << row.name;
        EXPECT_EQ(invalid, row.invalid) << row.name;
    }
}

}  // namespace

TEST(DecodedDisplay, WrapsAfterAWordAndNeverPartsASubfieldCode)
{
    const std::string wrap = "\n     ";
    const std::string wide = "\xe4\xb8\xad";  // 中, two columns
    const std::string acute = "\xcc\x81";     // combining acute accent, no column
    const std::string a60(60, 'a');
    struct Row {
        const char* name;
        std::string body;
        std::string expected;
    } rows[] = {
        {"space_in_the_last_15_columns", a60 + " " + std::string(20, 'b'), "200" + a60 + " " + wrap + std::string(20, 'b')},
        {"space_before_them_breaks_at_the_column", std::string(50, 'a') + " " + std::string(30, 'b'),
         "200" + std::string(50, 'a') + " " + std::string(23, 'b') + wrap + std::string(7, 'b')},
        {"the_last_space_wins", a60 + " bb " + std::string(20, 'c'), "200" + a60 + " bb " + wrap + std::string(20, 'c')},
        {"space_at_the_last_column", std::string(73, 'a') + " bc", "200" + std::string(73, 'a') + " " + wrap + "bc"},
        {"a_space_keeps_its_mark", a60 + " " + acute + std::string(20, 'b'),
         "200" + a60 + " " + acute + std::string(13, 'b') + wrap + std::string(7, 'b')},
        {"wide_characters_after_the_space", a60 + " " + [&] {
             std::string s;
             for (int i = 0; i < 10; ++i)
                 s += wide;
             return s;
         }(),
         "200" + a60 + " " + wrap + [&] {
             std::string s;
             for (int i = 0; i < 10; ++i)
                 s += wide;
             return s;
         }()},
        {"dollar_goes_with_its_code", std::string(73, 'a') + "\x1f" "bxyz", "200" + std::string(73, 'a') + wrap + "$bxyz"},
        {"dollar_before_a_blank_may_end_a_line", std::string(73, 'a') + "$ xyz", "200" + std::string(73, 'a') + "$" + wrap + " xyz"},
        {"word_break_on_a_continuation_line", std::string(74, 'a') + std::string(60, 'b') + " " + std::string(20, 'c'),
         "200" + std::string(74, 'a') + wrap + std::string(60, 'b') + " " + wrap + std::string(20, 'c')},
    };
    // UTF-8 goes the single pass, the other sets run by run: both break alike
    // (the rows in ASCII; marks and wide characters as UTF-8 only).
    for (Charset charset : {Charset::Utf8, Charset::Marc8, Charset::Gb18030}) {
        for (const Row& row : rows)
            if (charset == Charset::Utf8 || std::all_of(row.body.begin(), row.body.end(), [](char c) { return c > 0; }))
                EXPECT_EQ(renderDecoded(charset, {{"200", row.body}}), row.expected + "\n") << CharsetName(charset) << " " << row.name;
    }
}

TEST(DecodedDisplay, WordWrappedLinesStayWithinTheColumnsAndJoinBack)
{
    std::mt19937 random(2611);
    for (int n = 0; n < 300; ++n) {
        std::string body;
        while (body.size() < 400) {
            body += std::string(1 + random() % 16, static_cast<char>('a' + random() % 26));
            body += random() % 5 == 0 ? "\x1f" "x" : " ";
        }
        const std::string text = renderDecoded(Charset::Utf8, {{"200", body}});
        EXPECT_EQ(text, renderDecoded(Charset::Marc8, {{"200", body}}));
        std::string joined = text;
        for (std::size_t at; (at = joined.find("\n     ")) != std::string::npos;)
            joined.erase(at, 6);
        std::string shown = "200" + body + "\n";
        for (std::size_t at; (at = shown.find('\x1f')) != std::string::npos;)
            shown[at] = '$';
        EXPECT_EQ(joined, shown);
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            EXPECT_LE(end - start, 77u);
            if (end + 1 < text.size())  // a line that a wrap ends: never after a '$' whose code follows
                EXPECT_NE(text[end - 1], '$') << text;
        }
    }
}

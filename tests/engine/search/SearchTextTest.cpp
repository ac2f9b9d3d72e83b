// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "search/SearchText.h"

using namespace veltrane;

namespace {

TEST(SearchText, TypedTextBecomesTheBytesOfEachSet)
{
    const std::optional<std::string> none;
    struct Case {
        const char* name;
        Charset set;
        std::string typed;
        std::optional<std::string> bytes;
        char32_t unheld;
    } cases[] = {
        {"ascii_in_gbk", Charset::Gbk, "$aTitle", "$aTitle", 0},
        {"chinese_in_gbk", Charset::Gbk, "\xe4\xb8\xad\xe6\x96\x87", "\xd6\xd0\xce\xc4", 0},
        {"chinese_in_utf8", Charset::Utf8, "\xe4\xb8\xad", "\xe4\xb8\xad", 0},
        {"emoji_in_gb18030", Charset::Gb18030, "\xf0\x9f\x98\x80", "\x94\x39\xfc\x36", 0},
        {"emoji_in_gbk_named", Charset::Gbk, "ab\xe4\xb8\xad\xf0\x9f\x98\x80" "c", none, 0x1F600},
        {"first_unheld_is_named", Charset::Gbk, "\xc3\xa9\xf0\x9f\x98\x80", none, 0x1F600},
        {"not_utf8", Charset::Gbk, "a\xff", none, 0xFFFD},
        {"not_utf8_in_utf8", Charset::Utf8, "\xc0\xaf", none, 0xFFFD},
        {"marc8_is_never_encoded", Charset::Marc8, "abc", none, 0},
    };
    TextCodec codec;
    for (const Case& c : cases) {
        const SearchTextBytes got = SearchTextIn(codec, c.set, c.typed);
        EXPECT_EQ(got.bytes, c.bytes) << c.name;
        EXPECT_EQ(static_cast<unsigned>(got.unheld), static_cast<unsigned>(c.unheld)) << c.name;
    }
}

// Every setting limits a text by one rule: its GBK bytes when GBK holds it,
// else its UTF-8 bytes; only a fixed GBK or GB18030 setting refuses a
// character that set cannot hold.
TEST(SearchText, TypedTextIsCheckedByOneRuleForEverySetting)
{
    const std::string zhong = "\xe4\xb8\xad", emoji = "\xf0\x9f\x98\x80", privateUse = "\xee\x80\x80";
    const std::string tag = "\xf3\xa0\x80\x81", loneSurrogate = "\xed\xa0\x80";
    using R = SearchTextRefusal;
    struct Case {
        const char* name;
        CharsetSetting setting;
        std::string typed;
        R refusal;
        std::string gbk;
        std::size_t length;
    } cases[] = {
        {"chinese_in_gbk", CharsetSetting::Gbk, zhong, R::None, "\xd6\xd0", 2},
        {"chinese_counts_gbk_bytes_under_utf8", CharsetSetting::Utf8, zhong, R::None, "\xd6\xd0", 2},
        {"emoji_refused_by_gbk", CharsetSetting::Gbk, emoji, R::NotInGbk, "", 0},
        {"emoji_held_by_gb18030_counts_utf8", CharsetSetting::Gb18030, emoji, R::None, "", 4},
        {"emoji_under_auto", CharsetSetting::Auto, emoji, R::None, "", 4},
        {"emoji_under_marc8", CharsetSetting::Marc8, emoji, R::None, "", 4},
        {"private_use_as_code_page_936", CharsetSetting::Gbk, privateUse, R::None, "\xaa\xa1", 2},
        {"tag_character_never_dropped", CharsetSetting::Gbk, "a" + tag, R::NotInGbk, "", 0},
        {"lone_surrogate_in_gb18030", CharsetSetting::Gb18030, loneSurrogate, R::NotInGb18030, "", 0},
        {"lone_surrogate_under_auto", CharsetSetting::Auto, loneSurrogate, R::None, "", 3},
        {"longest_gbk", CharsetSetting::Gbk, std::string(255, 'a'), R::None, std::string(255, 'a'), 255},
        {"one_byte_too_long", CharsetSetting::Auto, std::string(256, 'a'), R::TooLong, "", 256},
        {"chinese_too_long_in_gbk", CharsetSetting::Utf8, [&] { std::string t; for (int i = 0; i < 128; ++i) t += zhong; return t; }(), R::TooLong, "", 256},
        {"utf8_too_long", CharsetSetting::Auto, std::string(64, 'a') + [&] { std::string t; for (int i = 0; i < 48; ++i) t += emoji; return t; }(), R::TooLong, "", 256},
    };
    TextCodec codec;
    for (const Case& c : cases) {
        const TypedSearchText got = CheckTypedSearchText(codec, c.setting, c.typed);
        EXPECT_EQ(got.refusal, c.refusal) << c.name;
        EXPECT_EQ(got.gbk, c.gbk) << c.name;
        if (c.refusal == R::None || c.refusal == R::TooLong)
            EXPECT_EQ(got.length, c.length) << c.name;
    }
}

}  // namespace

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

}  // namespace

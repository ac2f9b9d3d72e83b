// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>

#include "display/DisplayText.h"
#include "iso2709/RecordLayout.h"

using namespace veltrane;

namespace {

/// Renders all but the last `stale` bytes, which lie beyond the used length.
std::string render(const std::string& fieldBytes, DelimiterMode mode, std::size_t stale)
{
    static DisplayText text;
    text.clear();
    RenderDisplayText(text, reinterpret_cast<const unsigned char*>(fieldBytes.data()), fieldBytes.size() - stale,
                      FieldTerminator(mode), SubfieldDelimiter(mode));
    return std::string(text.text());
}

TEST(DisplayLayout, MatchesByteForByte)
{
    const std::string wrap = "\n     ", x74(74, 'x');
    std::string k200;  // no two neighbours alike, so a misplaced wrap shows
    while (k200.size() < 200)
        k200 += "abcdefghijklmnopqrstuvwxyz";
    k200.resize(200);
    struct Case {
        const char* name;
        DelimiterMode mode;
        std::string fieldBytes;  // tag and field bytes of each entry, back to back
        std::string expected;
        std::size_t stale = 0;
    } cases[] = {
        {"control_and_data_field", dmNormal, "001c01\x1e" "2001 \x1f" "aTitle text\x1f" "fAuth\x1e",
         "001c01\n2001 $aTitle text$fAuth\n"},
        {"field_of_77_bytes_then_another", dmNormal, "300" + x74 + "\x1e" "001ab\x1e", "300" + x74 + "\n001ab\n"},
        {"last_field_of_77_bytes_leaves_five_spaces", dmNormal, "300" + x74 + "\x1e", "300" + x74 + wrap},
        {"field_of_203_bytes", dmNormal, "200" + k200 + "\x1e",
         "200" + k200.substr(0, 74) + wrap + k200.substr(74, 72) + wrap + k200.substr(146) + "\n"},
        {"double_byte_char_at_column_77_stays_whole", dmNormal, "200" + std::string(73, 'a') + "\xb0\xa1" "b\x1e",
         "200" + std::string(73, 'a') + "\xb0\xa1" + wrap + "b\n"},
        {"mode1_hash_ends_lines_and_dollar_is_delimiter", dmSpecial1, "2001 $aA#B$ c#", "2001 $aA\nB$ c\n"},
        {"mode2_unit_separator_is_data", dmSpecial2, "2001 \x1f" "a$bX\x1e", "2001 \x1f" "a$bX\n"},
        {"delimiter_before_space_or_gbk_byte_stays_raw", dmNormal, "200\x1f \x1f\xb0\xa1\x1e",
         "200\x1f \x1f\xb0\xa1\n"},
        {"delimiter_as_last_used_byte_ignores_the_stale_byte_after_it", dmNormal, "200ab\x1f" "a", "200ab\x1f", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(c.fieldBytes, c.mode, c.stale), c.expected) << c.name;
}

}  // namespace

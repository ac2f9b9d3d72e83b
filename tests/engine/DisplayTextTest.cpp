#include <gtest/gtest.h>

#include <string>

#include "DisplayText.h"
#include "RecordLayout.h"

using namespace veltrane;

namespace {

/// Renders all but the last `stale` bytes, which lie beyond the used length.
std::string render(const std::string& fieldBytes, int mode, std::size_t stale)
{
    static DisplayText text;
    text.clear();
    RenderDisplayText(text, reinterpret_cast<const unsigned char*>(fieldBytes.data()), fieldBytes.size() - stale,
                      FieldTerminator(mode), SubfieldDelimiter(mode));
    return std::string(text.text());
}

const std::string kWrap = "\n     ";

struct LayoutCase {
    const char* name;
    int mode;
    std::string fieldBytes;  // tag and field bytes of each entry, back to back
    std::string expected;
    std::size_t stale = 0;
};

class DisplayLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(DisplayLayout, MatchesByteForByte)
{
    EXPECT_EQ(render(GetParam().fieldBytes, GetParam().mode, GetParam().stale), GetParam().expected);
}

const std::string k74(74, 'x');
const std::string k200 = [] {
    std::string s;
    for (int i = 0; i < 200; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayLayout,
    testing::Values(
        LayoutCase{"control_and_data_field", dmNormal, "001c01\x1e" "2001 \x1f" "aTitle text\x1f" "fAuth\x1e",
                   "001c01\n2001 $aTitle text$fAuth\n"},
        LayoutCase{"field_of_77_bytes_then_another", dmNormal, "300" + k74 + "\x1e" "001ab\x1e",
                   "300" + k74 + "\n001ab\n"},
        LayoutCase{"last_field_of_77_bytes_leaves_five_spaces", dmNormal, "300" + k74 + "\x1e",
                   "300" + k74 + kWrap},
        LayoutCase{"field_of_203_bytes", dmNormal, "200" + k200 + "\x1e",
                   "200" + k200.substr(0, 74) + kWrap + k200.substr(74, 72) + kWrap + k200.substr(146) + "\n"},
        LayoutCase{"double_byte_char_at_column_77_stays_whole", dmNormal,
                   "200" + std::string(73, 'a') + "\xb0\xa1" "b\x1e",
                   "200" + std::string(73, 'a') + "\xb0\xa1" + kWrap + "b\n"},
        LayoutCase{"mode1_hash_ends_lines_and_dollar_is_delimiter", dmSpecial1, "2001 $aA#B$ c#",
                   "2001 $aA\nB$ c\n"},
        LayoutCase{"mode2_unit_separator_is_data", dmSpecial2, "2001 \x1f" "a$bX\x1e", "2001 \x1f" "a$bX\n"},
        LayoutCase{"delimiter_before_space_or_gbk_byte_stays_raw", dmNormal, "200\x1f \x1f\xb0\xa1\x1e",
                   "200\x1f \x1f\xb0\xa1\n"},
        LayoutCase{"delimiter_as_last_used_byte_ignores_the_stale_byte_after_it", dmNormal, "200ab\x1f" "a",
                   "200ab\x1f", 1}),

    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

}  // namespace

// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "display/RecordTextWriter.h"
#include "iso2709/RecordFields.h"
#include "RecordFiles.h"

using namespace veltrane;
using testsupport::MakeRecord;

namespace {

std::string shownGbk(const std::string& bytes)
{
    TextCodec codec;
    std::string text;
    AppendShownGbkText(codec, bytes, text);
    return text;
}

// A window shows the display bytes as a text control loads a file: the lines
// the bytes hold, up to the first zero byte, in code page 936.
TEST(ShownGbkText, ReadsTheDisplayBytesAsATextControlLoadsThem)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"gbk", "2001 $a\xd6\xd0\xce\xc4\xcc\xe2\xc3\xfb\n", "2001 $a\xe4\xb8\xad\xe6\x96\x87\xe9\xa2\x98\xe5\x90\x8d\n"},
        {"cr_lf", "001a\r\n200b\r\n", "001a\n200b\n"},
        {"lone_cr", "001a\r200b", "001a\n200b"},
        {"zero_byte_ends_the_text", std::string("001a\n2\0" "00b\n", 11), "001a\n2"},
        {"bad_pair_keeps_the_rest_of_the_line", "a\x81 bc\n", "a\xef\xbf\xbd bc\n"},
        {"lead_byte_before_a_line_end", "ab\xd6\r\ncd\n", "ab\xef\xbf\xbd\ncd\n"},
        {"lead_byte_at_the_end", "ab\xd6", "ab\xef\xbf\xbd"},
        {"lone_ff_as_code_page_936", "a\xff\xd6\xd0\xff", "a\xef\xa3\xb5\xe4\xb8\xad\xef\xa3\xb5"},
        {"lead_byte_before_ff", "\xcc\xff", "\xef\xbf\xbd\xef\xa3\xb5"},
        {"user_defined_area", "\xaa\xa1", "\xee\x80\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shownGbk(c.bytes), c.text) << c.name;
}

class RecordTextWriterTest : public testing::Test {
protected:
    const RecordFields& fields(const std::string& record)
    {
        m_fields.assemble(reinterpret_cast<const unsigned char*>(record.data()), record.size());
        return m_fields;
    }
    std::string text(GbkTextLayout layout, const std::string& record, CharsetSetting setting = CharsetSetting::Auto)
    {
        RecordTextWriter writer(m_codec, {setting, dmNormal, layout});
        std::string out;
        (void)writer.writeText(fields(record), out);
        return out;
    }

    TextCodec m_codec;
    RecordFields m_fields;
};

// A GBK record's text follows its display bytes unless every set is laid out
// alike; where those differ shows which layout was written.
TEST_F(RecordTextWriterTest, GbkLayoutIsChosenByTheOptions)
{
    // 76 ASCII bytes, then a Chinese character: the byte layout keeps its two
    // bytes on the line (78 bytes); the column layout wraps before it.
    const std::string xs(73, 'x'), zhong = "\xe4\xb8\xad";
    const std::string record = MakeRecord({{"300", xs + "\xd6\xd0" + "\r" + "\xff"}});
    EXPECT_EQ(text(GbkTextLayout::DisplayBytes, record), "300" + xs + zhong + "\n     \r\xef\xbf\xbd\n");
    EXPECT_EQ(text(GbkTextLayout::TextControl, record), "300" + xs + zhong + "\n     \n\xef\xa3\xb5\n");
    EXPECT_EQ(text(GbkTextLayout::Columns, record), "300" + xs + "\n     " + zhong + "\xe2\x90\x8d\xef\xbf\xbd\n");
}

TEST_F(RecordTextWriterTest, OtherSetsAreLaidOutByColumnsWhateverTheGbkLayout)
{
    std::string record = MakeRecord({{"245", "10\x1f" "a\xce\x95\xce\xbb"}});
    record[9] = 'a';
    for (GbkTextLayout layout : {GbkTextLayout::Columns, GbkTextLayout::DisplayBytes, GbkTextLayout::TextControl})
        EXPECT_EQ(text(layout, record), "24510$a\xce\x95\xce\xbb\n");
}

// writeRecord gives the display bytes and the text from one layout, and the
// invalid bytes whichever layout the text took.
TEST_F(RecordTextWriterTest, WriteRecordGivesBytesTextAndInvalidBytes)
{
    const std::string record = MakeRecord({{"001", "a1"}, {"200", "1 \x1f" "a\xd6\xd0\x81"}});
    auto bytes = std::make_unique<DisplayText>();
    for (GbkTextLayout layout : {GbkTextLayout::Columns, GbkTextLayout::DisplayBytes, GbkTextLayout::TextControl}) {
        RecordTextWriter writer(m_codec, {CharsetSetting::Auto, dmNormal, layout});
        std::string shown;
        const RecordTextFacts facts = writer.writeRecord(fields(record), *bytes, shown);
        EXPECT_EQ(bytes->text(), "001a1\n2001 $a\xd6\xd0\x81\n");
        EXPECT_EQ(shown, text(layout, record));
        EXPECT_EQ(facts.decision.charset, Charset::Gbk);
        EXPECT_EQ(facts.invalidBytes, 1u);
    }
}

}  // namespace

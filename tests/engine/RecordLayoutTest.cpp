#include <gtest/gtest.h>

#include <clocale>

#include "RecordLayout.h"

using namespace veltrane;

namespace {

std::uint32_t parse(const char* text, std::size_t n)
{
    return ParseDigits(reinterpret_cast<const unsigned char*>(text), n);
}

}  // namespace

TEST(ParseDigits, ReadsLeadingDigitsUpToWidth)
{
    EXPECT_EQ(parse("00950", 5), 950u);
    EXPECT_EQ(parse("0095x", 5), 95u);
    EXPECT_EQ(parse(" 0950", 5), 0u);
    EXPECT_EQ(parse("12345678", 5), 12345u);
    EXPECT_EQ(parse("99999", 5), 99999u);
    EXPECT_EQ(parse("12", 0), 0u);
}

TEST(DelimiterMode, UnknownValuesBehaveAsTheNormalVariant)
{
    EXPECT_EQ(FieldTerminator(7), 0x1E);
    EXPECT_EQ(SubfieldDelimiter(-1), 0x1F);
}

TEST(ByteClasses, IgnoreTheProcessLocale)
{
    std::setlocale(LC_ALL, "");  // whatever the environment says, high bytes stay outside
    for (int b = 0x80; b <= 0xFF; ++b) {
        auto byte = static_cast<unsigned char>(b);
        EXPECT_FALSE(IsAsciiLetterOrDigit(byte)) << b;
        EXPECT_EQ(FoldUpper(byte), byte) << b;
    }
    EXPECT_EQ(FoldUpper('z'), 'Z');
    EXPECT_EQ(FoldUpper('{'), '{');
    EXPECT_TRUE(IsAsciiLetterOrDigit('7'));
    EXPECT_FALSE(IsAsciiLetterOrDigit('$'));
}

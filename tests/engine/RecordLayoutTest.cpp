#include <gtest/gtest.h>

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
    EXPECT_EQ(parse("12", 0), 0u);
}

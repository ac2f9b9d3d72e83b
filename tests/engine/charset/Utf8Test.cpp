// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "charset/Utf8.h"

namespace veltrane {
namespace {

std::span<const unsigned char> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

TEST(Utf8, ValidityFollowsTheStandardSequences)
{
    struct Row {
        std::string bytes;
        bool valid;
    };
    const Row rows[] = {{"plain ascii text longer than a word", true}, {"\xe4\xb8\xad", true},
                        {"\xf0\x9f\x98\x80", true},                    {"\xc0\xaf", false},
                        {"\xed\xa0\x80", false},                        {"\xe4\xb8", false},
                        {"\xf4\x90\x80\x80", false},                    {"abcdefgh\xff", false}};
    for (const Row& row : rows)
        EXPECT_EQ(IsValidUtf8(bytesOf(row.bytes)), row.valid) << row.bytes;
}

TEST(Utf8, SequencesAtTheEdgesOfTheRanges)
{
    struct Row {
        const char* name;
        std::string bytes;
        std::size_t length;   // 0: not well-formed
        std::size_t subpart;  // bytes one U+FFFD stands for
        char32_t codePoint;
    };
    const Row rows[] = {
        {"smallest_two_byte", "\xc2\x80", 2, 2, 0x80},
        {"overlong_two_byte", "\xc1\xbf", 0, 1, 0},
        {"smallest_three_byte", "\xe0\xa0\x80", 3, 3, 0x800},
        {"overlong_three_byte", "\xe0\x9f\xbf", 0, 1, 0},
        {"last_before_surrogates", "\xed\x9f\xbf", 3, 3, 0xD7FF},
        {"first_surrogate", "\xed\xa0\x80", 0, 1, 0},
        {"last_surrogate", "\xed\xbf\xbf", 0, 1, 0},
        {"first_after_surrogates", "\xee\x80\x80", 3, 3, 0xE000},
        {"overlong_four_byte", "\xf0\x8f\xbf\xbf", 0, 1, 0},
        {"last_code_point", "\xf4\x8f\xbf\xbf", 4, 4, 0x10FFFF},
        {"past_last_code_point", "\xf4\x90\x80\x80", 0, 1, 0},
        {"lead_past_f4", "\xf5\x80\x80\x80", 0, 1, 0},
        {"cut_after_two_of_three", "\xe4\xb8", 0, 2, 0},
        {"cut_after_three_of_four", "\xf0\x9f\x98", 0, 3, 0},
        {"lone_continuation", "\x80", 0, 1, 0},
    };
    for (const Row& row : rows) {
        const Utf8Sequence s = Utf8SequenceAt(bytesOf(row.bytes), 0);
        EXPECT_EQ(s.length, row.length) << row.name;
        EXPECT_EQ(s.subpart, row.subpart) << row.name;
        if (row.length != 0)
            EXPECT_EQ(s.codePoint, row.codePoint) << row.name;
    }
}

// The word-at-a-time scans must say what walking Utf8SequenceAt byte by byte
// says, wherever a sequence or a flaw falls against the word bounds.
TEST(Utf8, FastScansAgreeWithTheSequenceWalk)
{
    const std::vector<std::string> pieces = {"a", "abcdefg", "\xe4\xb8\xad", "\xc3\xa9", "\xf0\x9f\x98\x80",
                                             "\xc0\xaf", "\xed\xa0\x80", "\xe0\x80\x80", "\xf4\x90\x80\x80",
                                             "\xe4\xb8", "\xff", "\x80", "\x1b", "\xf0\x9f"};
    std::mt19937 random(18);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 12);
        for (int k = 0; k < count; ++k)
            text += pieces[random() % pieces.size()];
        const auto bytes = bytesOf(text);

        bool valid = true;
        int multibyte = 0;
        std::size_t invalid = 0;
        std::string decoded;
        for (std::size_t i = 0; i < bytes.size();) {
            const Utf8Sequence s = Utf8SequenceAt(bytes, i);
            if (s.length == 0) {
                valid = false;
                invalid += s.subpart;
                AppendUtf8(decoded, kReplacementCharacter);
                i += s.subpart;
            } else {
                multibyte += s.length > 1;
                decoded.append(text, i, s.length);
                i += s.length;
            }
        }
        ASSERT_EQ(IsValidUtf8(bytes), valid) << text;
        ASSERT_EQ(CountInvalidUtf8(bytes), invalid) << text;
        std::string fast;
        ASSERT_EQ(DecodeUtf8(bytes, fast), invalid) << text;
        ASSERT_EQ(fast, decoded) << text;
        int fastMultibyte = 0;
        ASSERT_EQ(CountUtf8Multibyte(bytes, fastMultibyte), valid) << text;
        if (valid)
            ASSERT_EQ(fastMultibyte, multibyte) << text;
    }
}

}  // namespace
}  // namespace veltrane

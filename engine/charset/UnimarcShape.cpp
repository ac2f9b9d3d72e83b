// SPDX-License-Identifier: Apache-2.0
#include "charset/UnimarcShape.h"

#include <algorithm>
#include <cstdint>

#include "charset/ByteWords.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

constexpr std::size_t kDateOfEntryLength = 8;  // 100 $a/0-7 (eight digits, or blanks)

/// The bytes of $a of a field, up to the next delimiter or terminator but at
/// most `most` of them, or nothing. The standard delimiter 0x1F comes first;
/// "$a" (the printable variants) counts only in a field without any 0x1F 'a'.
std::optional<std::span<const unsigned char>> subfieldA(std::span<const unsigned char> data, std::size_t most)
{
    for (unsigned char delimiter : {kStandardSubfieldDelimiter, kSpecialSubfieldDelimiter}) {
        for (std::size_t i = 0; i + 1 < data.size(); ++i) {
            if (data[i] != delimiter || data[i + 1] != 'a')
                continue;
            std::size_t end = i + 2;
            const std::size_t stop = std::min(data.size(), end + most);
            if (delimiter == kStandardSubfieldDelimiter) {
                // Only 0x1E and 0x1F end it: (byte | 1) == 0x1F, a word at a time.
                static_assert(kStandardFieldTerminator == (kStandardSubfieldDelimiter & ~1));
                for (; end + 8 <= stop; end += 8) {
                    const std::uint64_t stops = (LoadWord(data.data() + end) | kOnes) ^ (kOnes * kStandardSubfieldDelimiter);
                    if (((stops - kOnes) & ~stops & kHighBits) != 0)
                        break;
                }
            }
            while (end < stop && data[end] != delimiter && data[end] != kStandardFieldTerminator &&
                   data[end] != kStandardSubfieldDelimiter &&
                   !(delimiter == kSpecialSubfieldDelimiter && data[end] == kSpecialFieldTerminator))
                ++end;
            return data.subspan(i + 2, end - i - 2);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::span<const unsigned char>> UnimarcGeneralData(std::span<const unsigned char> data)
{
    const auto a = subfieldA(data, kUnimarcCharsetOffset + kUnimarcUtf8.size());
    if (!a || a->size() <= kDateOfEntryLength)
        return std::nullopt;
    const bool dated = std::all_of(a->begin(), a->begin() + kDateOfEntryLength,
                                   [](unsigned char b) { return IsAsciiDigit(b) || b == ' '; });
    const unsigned char type = (*a)[kDateOfEntryLength];
    return dated && type >= 'a' && type <= 'z' ? a : std::nullopt;
}


}  // namespace veltrane

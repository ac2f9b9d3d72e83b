// SPDX-License-Identifier: Apache-2.0
#include "list/TextOrder.h"

#include <algorithm>
#include <cstdint>

#include "charset/Utf8.h"

namespace veltrane {

namespace {

#include "list/PinyinOrder.generated.inc"

constexpr char32_t kPinyinEnd = kPinyinFirst + static_cast<char32_t>(std::size(kPinyinRank));
// Characters from kPinyinFirst on that the table does not rank move past the ranked ones.
constexpr std::uint32_t kUnrankedShift = 0x10000;
static_assert(kPinyinFirst + std::size(kPinyinRank) < kPinyinFirst + kUnrankedShift);

std::uint32_t weightOf(char32_t cp)
{
    if (cp < kPinyinFirst)
        return cp;
    if (cp < kPinyinEnd) {
        const std::uint16_t rank = kPinyinRank[cp - kPinyinFirst];
        if (rank != 0)
            return kPinyinFirst + rank - 1;
    }
    return cp + kUnrankedShift;
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

bool TextSortsBefore(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(common), b.begin()).first - a.begin());
    if (at == common)
        return a.size() < b.size();
    const auto x = static_cast<unsigned char>(a[at]), y = static_cast<unsigned char>(b[at]);
    if (x < 0x80 && y < 0x80)
        return x < y;
    // The first character that differs starts at or before the first byte that does.
    std::size_t start = at;
    while (start > 0 && isContinuation(a[start]))
        --start;
    std::size_t i = start, k = start;
    const std::uint32_t wa = weightOf(NextCodePoint(a, i)), wb = weightOf(NextCodePoint(b, k));
    if (wa != wb)
        return wa < wb;
    return a.substr(start) < b.substr(start);  // ill-formed bytes read alike: as bytes
}

}  // namespace veltrane

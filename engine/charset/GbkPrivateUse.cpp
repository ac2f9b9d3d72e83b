// SPDX-License-Identifier: Apache-2.0
#include "charset/GbkPrivateUse.h"

#include <array>
#include <cstddef>

namespace veltrane {

namespace {

constexpr unsigned char kTrailGap = 0x7F;  // no trail byte is DEL

/// Place of a trail in its row, counting trails from `first` and skipping DEL.
constexpr unsigned trailIndex(unsigned char first, unsigned char trail)
{
    return trail - first - (first < kTrailGap && trail > kTrailGap ? 1 : 0);
}

// The user-defined areas, row after row: 94 trails A1-FE a row in the first
// two, 96 trails 40-A0 (DEL left out) in the third.
struct UserArea {
    unsigned char firstLead, lastLead, firstTrail, lastTrail;
    char32_t first;
};
constexpr UserArea kUserAreas[] = {
    {0xAA, 0xAF, 0xA1, 0xFE, 0xE000},
    {0xF8, 0xFE, 0xA1, 0xFE, 0xE234},
    {0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},
};

// The empty places of GBK's other rows, as runs of codes in one row; they
// take U+E766-U+E864 in this order.
struct EmptyRun {
    unsigned short first, last;
};
constexpr char32_t kFirstEmptyPlace = 0xE766;
constexpr EmptyRun kEmptyRuns[] = {
    {0xA2AB, 0xA2B0}, {0xA2E3, 0xA2E4}, {0xA2EF, 0xA2F0}, {0xA2FD, 0xA2FE}, {0xA4F4, 0xA4FE}, {0xA5F7, 0xA5FE},
    {0xA6B9, 0xA6C0}, {0xA6D9, 0xA6DF}, {0xA6EC, 0xA6ED}, {0xA6F3, 0xA6F3}, {0xA6F6, 0xA6FE}, {0xA7C2, 0xA7D0},
    {0xA7F2, 0xA7FE}, {0xA896, 0xA8A0}, {0xA8BC, 0xA8BC}, {0xA8BF, 0xA8BF}, {0xA8C1, 0xA8C4}, {0xA8EA, 0xA8FE},
    {0xA958, 0xA958}, {0xA95B, 0xA95B}, {0xA95D, 0xA95F}, {0xA989, 0xA995}, {0xA997, 0xA9A3}, {0xA9F0, 0xA9FE},
    {0xD7FA, 0xD7FE}, {0xFE50, 0xFEA0},
};

}  // namespace

std::optional<char32_t> GbkPrivateUse(unsigned char lead, unsigned char trail)
{
    if (trail == kTrailGap)
        return std::nullopt;
    for (const UserArea& a : kUserAreas) {
        if (lead >= a.firstLead && lead <= a.lastLead && trail >= a.firstTrail && trail <= a.lastTrail) {
            const unsigned rowLength = trailIndex(a.firstTrail, a.lastTrail) + 1;
            return a.first + (lead - a.firstLead) * rowLength + trailIndex(a.firstTrail, trail);
        }
    }
    const unsigned code = unsigned{lead} << 8 | trail;
    char32_t next = kFirstEmptyPlace;
    for (const EmptyRun& r : kEmptyRuns) {
        const unsigned char firstTrail = r.first & 0xFF, lastTrail = r.last & 0xFF;
        if (code >= r.first && code <= r.last)
            return next + trailIndex(firstTrail, trail);
        next += trailIndex(firstTrail, lastTrail) + 1;
    }
    return std::nullopt;
}

std::optional<unsigned short> GbkPrivateUseCode(char32_t codePoint)
{
    constexpr char32_t kFirst = 0xE000, kLast = 0xF8FF;  // the Private Use Area
    if (codePoint < kFirst || codePoint > kLast)
        return std::nullopt;
    static const std::array<unsigned short, kLast - kFirst + 1> codes = [] {
        std::array<unsigned short, kLast - kFirst + 1> table{};
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                if (const std::optional<char32_t> cp = GbkPrivateUse(static_cast<unsigned char>(lead),
                                                                     static_cast<unsigned char>(trail)))
                    table[*cp - kFirst] = static_cast<unsigned short>(lead << 8 | trail);
            }
        }
        return table;
    }();
    const unsigned short code = codes[codePoint - kFirst];
    return code != 0 ? std::optional<unsigned short>(code) : std::nullopt;
}

}  // namespace veltrane

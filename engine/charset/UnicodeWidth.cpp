// SPDX-License-Identifier: Apache-2.0
#include "charset/UnicodeWidth.h"

#include <algorithm>
#include <iterator>

#include "charset/UnicodeWidthTables.h"

namespace veltrane {

namespace unicode_width {

namespace {

struct WidthRange {
    char32_t first;
    char32_t last;
    WidthClass kind;
};
constexpr WidthRange kWidthRanges[] = {
#include "charset/UnicodeWidth.generated.inc"
};

// Blocks of 64 code points of the BMP whose code points all share one class:
// text in one script looks its widths up here and never searches the ranges.
constexpr auto kComputedBlockClass = [] {
    BlockTable table{};
    table.fill(kPlain);
    for (const WidthRange& r : kWidthRanges) {
        if (r.first > 0xFFFF)
            break;
        const char32_t last = std::min<char32_t>(r.last, 0xFFFF);
        for (char32_t block = r.first >> kBlockBits; block <= last >> kBlockBits; ++block) {
            const char32_t from = block << kBlockBits, to = from + (1u << kBlockBits) - 1;
            table[block] = r.first <= from && r.last >= to ? static_cast<unsigned char>(r.kind) : kMixedBlock;
        }
    }
    // The joiners extend clusters without a class of their own.
    table[kZeroWidthJoiner >> kBlockBits] = kMixedBlock;
    return table;
}();

// The mixed blocks of the BMP spelled out code point by code point: Latin-1,
// Greek, Cyrillic, Hebrew and kana all have a mixed block, and searching the
// ranges for each of their letters costs more than the rest of the layout.
constexpr std::size_t kMixedBlockCount = [] {
    std::size_t n = 0;
    for (unsigned char c : kComputedBlockClass)
        n += c == kMixedBlock;
    return n;
}();
struct MixedBlocks {
    BlockTable index{};  ///< of the block in classes, for mixed blocks
    std::array<BlockClasses, kMixedBlockCount> classes{};
};
constexpr MixedBlocks kComputedMixedBlocks = [] {
    MixedBlocks m;
    std::size_t next = 0;
    for (std::size_t block = 0; block < kComputedBlockClass.size(); ++block) {
        if (kComputedBlockClass[block] != kMixedBlock)
            continue;
        m.index[block] = static_cast<unsigned char>(next);
        m.classes[next].fill(kPlain);
        ++next;
    }
    for (const WidthRange& r : kWidthRanges) {
        if (r.first > 0xFFFF)
            break;
        for (char32_t cp = r.first; cp <= std::min<char32_t>(r.last, 0xFFFF); ++cp) {
            if (kComputedBlockClass[cp >> kBlockBits] != kMixedBlock) {
                cp |= (1u << kBlockBits) - 1;  // a whole block of one class: on to the next block
                continue;
            }
            m.classes[m.index[cp >> kBlockBits]][cp & ((1u << kBlockBits) - 1)] = static_cast<unsigned char>(r.kind);
        }
    }
    return m;
}();
static_assert(kMixedBlockCount <= 256, "mixed blocks are indexed by a byte");


/// The range holding a code point, nothing for an ordinary one-column character.
const WidthRange* widthRange(char32_t cp)
{
    if (cp < 0xAD)
        return nullptr;
    const auto* end = std::end(kWidthRanges);
    const auto* it = std::upper_bound(std::begin(kWidthRanges), end, cp,
                                      [](char32_t c, const WidthRange& r) { return c < r.first; });
    if (it == std::begin(kWidthRanges))
        return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

}  // namespace

const BlockTable kBlockClass = kComputedBlockClass;
const BlockTable kMixedBlockRow = kComputedMixedBlocks.index;
const BlockClasses* const kMixedBlockClasses = kComputedMixedBlocks.classes.data();

int WidthClassBeyondBmp(char32_t cp)
{
    const WidthRange* r = widthRange(cp);
    return r == nullptr ? kPlain : r->kind;
}

}  // namespace unicode_width

using namespace unicode_width;

bool IsClusterExtender(char32_t cp)
{
    if (cp < 0x300)
        return false;
    if (cp == kZeroWidthJoiner || cp == kZeroWidthNonJoiner)
        return true;
    const int c = WidthClassOf(cp);
    return c == kMark || c == kSpacingMark;
}

int DisplayWidth(char32_t codePoint)
{
    switch (WidthClassOf(codePoint)) {
    case kMark:
    case kFormat: return 0;
    case kSpacingMark: return 1;
    case kWide: return 2;
    }
    return 1;
}

}  // namespace veltrane

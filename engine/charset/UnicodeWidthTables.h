// SPDX-License-Identifier: Apache-2.0
#pragma once

// The tables behind DisplayWidth, for the layouts that measure text in their
// inner loops. Private to the engine's text layout.

#include <array>
#include <cstddef>

namespace veltrane::unicode_width {

inline constexpr char32_t kZeroWidthNonJoiner = 0x200C;
inline constexpr char32_t kZeroWidthJoiner = 0x200D;

enum WidthClass : unsigned char { kMark, kFormat, kSpacingMark, kWide };
inline constexpr int kPlain = 4;  // an ordinary one-column character
inline constexpr unsigned char kMixedBlock = 0xFF;
inline constexpr std::size_t kBlockBits = 6;

using BlockTable = std::array<unsigned char, (0x10000 >> kBlockBits)>;
using BlockClasses = std::array<unsigned char, (1u << kBlockBits)>;

/// Per block of 64 code points of the BMP: the class all its code points
/// share, or kMixedBlock.
extern const BlockTable kBlockClass;
/// Per mixed block: its row in kMixedBlockClasses.
extern const BlockTable kMixedBlockRow;
/// The classes of the mixed blocks' code points, a row of 64 per block.
extern const BlockClasses* const kMixedBlockClasses;

/// WidthClass of a code point past the BMP, or kPlain.
[[nodiscard]] int WidthClassBeyondBmp(char32_t cp);

/// WidthClass of a code point, or kPlain.
inline int WidthClassOf(char32_t cp)
{
    if (cp < 0x10000) {
        const unsigned char c = kBlockClass[cp >> kBlockBits];
        if (c != kMixedBlock)
            return c;
        return kMixedBlockClasses[kMixedBlockRow[cp >> kBlockBits]][cp & ((1u << kBlockBits) - 1)];
    }
    return WidthClassBeyondBmp(cp);
}

}  // namespace veltrane::unicode_width

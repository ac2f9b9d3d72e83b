// SPDX-License-Identifier: Apache-2.0
#pragma once

// The scans that count the invalid bytes of GBK and GB18030 text without
// decoding it: a table of the converter's characters, passed over with
// vector instructions where the processor has them. Private to engine/charset.

#include <iconv.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

namespace veltrane {

struct TextScan;

/// What a pass over text saw besides its characters: what the automatic
/// rules look for.
struct TextFacts {
    bool high = false;             ///< a byte 0x80 or above
    bool escape = false;           ///< ESC
    bool highBeforeDigit = false;  ///< a high byte followed by an ASCII digit
};

/// The characters of a double-byte set as the converter reads them: the bytes
/// that are a character alone, and the lead and trail pairs that are one.
/// Asked of the converter itself, so a scan agrees with it byte for byte.
struct DoubleByteTable {
    std::array<std::uint64_t, 4> single{};
    std::array<std::uint64_t, 65536 / 64> pair{};
    bool asciiSingle = false;  ///< every byte below 0x80 is a character alone
    /// Per lead byte: 1 when it makes a character with every trail in 0x40-0x7E
    /// and 0x80-0xFE, as the rows of Chinese text do.
    std::array<unsigned char, 256> fullRow{};
    /// Per lead byte: the last trail up to which every trail from 0xA1 makes a
    /// character with it (0 when 0xA1 does not), for Chinese text in its
    /// 0xA1-0xFE pairs; a row with a few unassigned places at its end still
    /// passes most of its pairs.
    std::array<unsigned char, 256> highTrailLimit{};
    /// The lead whose row takes the most trails from 0xA1 but not all (GBK's
    /// row 0xD7, common hanzi, lacks only its last five), and the last such
    /// trail; -1 when there is none.
    std::int16_t partialLead = -1;
    std::int16_t partialLimit = -1;
    /// The two longest runs of lead bytes whose rows take every trail
    /// 0xA1-0xFE, or are the partial row, as first and last lead: a block of
    /// such pairs is tested with two range tests and the partial row's limit.
    /// In GBK they are the hanzi (0xB0-0xF7) and GBK's own rows below them.
    std::array<std::pair<std::int16_t, std::int16_t>, 2> highRuns{{{1, 0}, {1, 0}}};
    /// Passes ASCII mixed with such pairs 64 bytes at a time (see
    /// skipMixedText); nullptr where the processor has no vectors for it.
    const unsigned char* (*skipMixedText)(const struct DoubleByteTable&, const unsigned char* begin,
                                          const unsigned char* p, const unsigned char* end,
                                          struct TextFacts& facts) = nullptr;

    [[nodiscard]] bool isSingle(unsigned char b) const { return (single[b >> 6] >> (b & 63)) & 1; }
    [[nodiscard]] bool isPair(unsigned char lead, unsigned char trail) const
    {
        const unsigned index = unsigned{lead} << 8 | trail;
        return (pair[index >> 6] >> (index & 63)) & 1;
    }
};

/// The table of the double-byte set iconv's handle cd converts from (to
/// UTF-8), asked of the converter itself; it leaves cd reset.
[[nodiscard]] std::unique_ptr<DoubleByteTable> BuildDoubleByteTable(iconv_t cd);

/// What CountInvalidDoubleByte gives when it cannot settle the count alone.
inline constexpr std::size_t kUnsettled = static_cast<std::size_t>(-1);

/// The count convertLenient gives for a double-byte set: a byte that starts
/// no character counts one and the converter goes on after it. kUnsettled when
/// `longerForms` (GB18030, whose four-byte forms the table does not hold) and
/// anything but a one- or two-byte character shows. With `facts`, also notes
/// what the automatic rules look for (its invalidGbk is left to the caller).
std::size_t CountInvalidDoubleByte(const DoubleByteTable& table, std::span<const unsigned char> bytes, bool longerForms,
                                   TextScan* facts = nullptr);

}  // namespace veltrane

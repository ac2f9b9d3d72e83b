// SPDX-License-Identifier: Apache-2.0
#pragma once

// Byte tests a 64-bit word at a time, for the scans of record text. Private
// to the engine: nothing outside engine/ includes it.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace veltrane {

inline constexpr unsigned char kEscapeByte = 0x1B;  // ESC, 27: starts a MARC-8 set change
inline constexpr unsigned char kDeleteByte = 0x7F;  // DEL, 127

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = kOnes * 0x80;

constexpr bool IsPrintableAscii(char c) { return c >= 0x20 && c < 0x7F; }

inline std::uint64_t LoadWord(const unsigned char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

/// Bit 7 of each byte set where that byte of word is an ASCII digit; each
/// byte is tested on its own, with no carry between bytes.
constexpr std::uint64_t DigitBits(std::uint64_t word)
{
    constexpr std::uint64_t kLow7 = kOnes * 0x7F;
    const std::uint64_t low = word & kLow7;
    return (kOnes * (127 + '9' + 1) - low) & ~word & (low + kOnes * (127 - ('0' - 1))) & kHighBits;
}

/// Where the ASCII bytes from p on end (at most end): records are mostly
/// ASCII, so stretches of it go a word at a time.
inline const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end)
{
    while (end - p >= 8 && (LoadWord(p) & kHighBits) == 0)
        p += 8;
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

/// Whether bytes are ASCII without ESC: text that reads the same in every
/// set, which decoding cannot change.
inline bool IsAsciiWithoutEscape(std::span<const unsigned char> bytes)
{
    // Eight bytes at a time: a high bit, or a zero byte where ESC was.
    const unsigned char* p = bytes.data();
    const unsigned char* const end = p + bytes.size();
    for (; end - p >= 8; p += 8) {
        const std::uint64_t word = LoadWord(p);
        const std::uint64_t escapes = word ^ (kOnes * kEscapeByte);
        if (((word | ((escapes - kOnes) & ~escapes)) & kHighBits) != 0)
            return false;
    }
    return std::none_of(p, end, [](unsigned char b) { return b >= 0x80 || b == kEscapeByte; });
}

inline bool AllPrintableAscii(std::span<const unsigned char> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b >= 0x20 && b < kDeleteByte; });
}

}  // namespace veltrane

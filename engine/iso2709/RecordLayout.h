// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace veltrane {

// A record file is a run of ISO 2709 records: a 24-byte leader whose first five
// bytes give the record length and whose bytes 12-16 give the base address of
// the data, a directory of 12-byte entries (tag, field length, start), then the
// fields. Everything numeric is read by ParseDigits, never validated further.

inline constexpr std::size_t kLeaderLength = 24;
inline constexpr std::size_t kDirectoryEntryLength = 12;
inline constexpr std::size_t kTagLength = 3;
inline constexpr std::size_t kRecordLengthOffset = 0;
inline constexpr std::size_t kRecordLengthDigits = 5;
inline constexpr std::size_t kBaseAddressOffset = 12;
inline constexpr std::size_t kFieldLengthOffsetInEntry = 3;  // 4 digits
inline constexpr std::size_t kFieldStartOffsetInEntry = 7;   // 5 digits

/// Largest record five length digits can describe; the size of RecordBuffer.
inline constexpr std::size_t kRecordBufferSize = 99'999;
/// Tag and field bytes of one record; the size of FieldBuffer.
inline constexpr std::size_t kFieldBufferSize = 100'001;

/// Directory entries a base address implies (its own terminator never counts).
[[nodiscard]] constexpr std::size_t DirectoryEntryCount(std::uint32_t base)
{
    return base > kLeaderLength ? (base - kLeaderLength) / kDirectoryEntryLength : 0;
}

/// Delimiter variants a record file may use; the numbers are the ones the
/// delimiter dialog and the CLI's --mode show.
enum class DelimiterMode : std::uint16_t {
    Normal = 0,    ///< field terminator 0x1E, subfield delimiter 0x1F
    Special1 = 1,  ///< field terminator '#', subfield delimiter '$'
    Special2 = 2,  ///< field terminator 0x1E, subfield delimiter '$'
};
inline constexpr DelimiterMode dmNormal = DelimiterMode::Normal;
inline constexpr DelimiterMode dmSpecial1 = DelimiterMode::Special1;
inline constexpr DelimiterMode dmSpecial2 = DelimiterMode::Special2;

/// The variant numbered 0, 1 or 2; nullopt for any other number.
[[nodiscard]] constexpr std::optional<DelimiterMode> DelimiterModeFromNumber(int number)
{
    if (number < 0 || number > 2)
        return std::nullopt;
    return static_cast<DelimiterMode>(number);
}
/// The number 0, 1 or 2 of a variant.
[[nodiscard]] constexpr int DelimiterModeNumber(DelimiterMode mode) { return static_cast<int>(mode); }

inline constexpr unsigned char kStandardFieldTerminator = 0x1E;     // record separator, 30
inline constexpr unsigned char kStandardSubfieldDelimiter = 0x1F;   // unit separator, 31
inline constexpr unsigned char kRecordTerminator = 0x1D;           // group separator, 29
inline constexpr unsigned char kSpecialFieldTerminator = '#';       // 0x23
inline constexpr unsigned char kSpecialSubfieldDelimiter = '$';     // 0x24

/// The field terminator of a delimiter variant.
[[nodiscard]] unsigned char FieldTerminator(DelimiterMode mode);
/// The subfield delimiter of a delimiter variant.
[[nodiscard]] unsigned char SubfieldDelimiter(DelimiterMode mode);

// Byte classes as in the POSIX locale: bytes 0x80-0xFF belong to none of them
// and folding never changes them, whatever the process locale says.
[[nodiscard]] constexpr bool IsAsciiDigit(unsigned char b) { return b >= '0' && b <= '9'; }
/// Whether the n bytes are all ASCII digits.
[[nodiscard]] constexpr bool AllAsciiDigits(const unsigned char* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!IsAsciiDigit(bytes[i]))
            return false;
    return true;
}

/// Reads at most n leading ASCII digits of bytes as a decimal number; 0 when the
/// first byte is not a digit. Never reads past n bytes. Inline: every directory
/// entry is read with it.
[[nodiscard]] inline std::uint32_t ParseDigits(const unsigned char* bytes, std::size_t n)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n && IsAsciiDigit(bytes[i]); ++i)
        value = value * 10 + static_cast<std::uint32_t>(bytes[i] - '0');
    return value;
}
[[nodiscard]] constexpr bool IsAsciiLetterOrDigit(unsigned char b)
{
    return IsAsciiDigit(b) || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

/// Whether a tag names a control field (001-009, and any tag starting "00"):
/// a value, no indicators, no subfields.
[[nodiscard]] constexpr bool IsControlTag(std::string_view tag)
{
    return tag.size() == 3 && tag[0] == '0' && tag[1] == '0';
}
[[nodiscard]] constexpr unsigned char FoldUpper(unsigned char b)
{
    return (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - ('a' - 'A')) : b;
}

}  // namespace veltrane

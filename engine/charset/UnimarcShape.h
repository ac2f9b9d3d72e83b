// SPDX-License-Identifier: Apache-2.0
#pragma once

// The UNIMARC shape rule on the bytes of one field, for the character-set
// rules, the conversion and the reader's leader check alike.

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace veltrane {

/// UNIMARC's general data, 100 $a, names the record's character set at
/// positions 26-27 (from 0); "50" is ISO 10646, read here as UTF-8.
inline constexpr std::size_t kUnimarcCharsetOffset = 26;
inline constexpr std::string_view kUnimarcUtf8 = "50";

/// $a of a field 100 (its bytes after the tag) when it starts the UNIMARC way:
/// eight digits or blanks followed by a lowercase letter (date of entry, type
/// of date). $a is what follows the field's first 0x1F 'a', or its first "$a"
/// when it has no 0x1F 'a'. Only as far as the rules read it, up to its
/// character set (100 $a/26-27); nothing when it does not start so.
[[nodiscard]] std::optional<std::span<const unsigned char>> UnimarcGeneralData(std::span<const unsigned char> field100);

/// Whether the bytes of one field 100 (after its tag) make a record
/// UNIMARC-shaped.
[[nodiscard]] inline bool IsUnimarcGeneralData(std::span<const unsigned char> field100)
{
    return UnimarcGeneralData(field100).has_value();
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>

namespace veltrane {

/// Code page 936 gives the byte 0xFF, neither a lead nor a trail byte, this
/// Private Use character (the C library's converter rejects the byte).
inline constexpr unsigned char kCodePage936LoneByte = 0xFF;
inline constexpr char32_t kCodePage936LoneByteCharacter = 0xF8F5;

/// The Private Use character of a GBK double-byte code that the C library's
/// converter leaves without one: the three user-defined areas (AAA1-AFFE,
/// F8A1-FEFE, A140-A7A0) and the places GBK leaves empty in its other rows,
/// numbered from U+E000 as Windows code page 936 numbers them, which is how
/// Qt's GBK codec shows them. Nothing for any other pair.
[[nodiscard]] std::optional<char32_t> GbkPrivateUse(unsigned char lead, unsigned char trail);
/// The double-byte code (lead byte high) GbkPrivateUse gives codePoint; nothing
/// for any other character.
[[nodiscard]] std::optional<unsigned short> GbkPrivateUseCode(char32_t codePoint);

}  // namespace veltrane

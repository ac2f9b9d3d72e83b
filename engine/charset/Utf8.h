#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrane {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

/// Appends the UTF-8 bytes of a code point; one that UTF-8 cannot hold (a
/// surrogate, or beyond U+10FFFF) becomes U+FFFD.
inline void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacementCharacter;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/// The code point starting at text[i] of valid UTF-8 (as the engine's
/// decoders write it); i moves past it.
inline char32_t NextCodePoint(std::string_view text, std::size_t& i)
{
    const auto b = static_cast<unsigned char>(text[i++]);
    if (b < 0x80)
        return b;
    const int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    char32_t cp = b & (0x3F >> more);
    for (int k = 0; k < more && i < text.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    return cp;
}

}  // namespace veltrane

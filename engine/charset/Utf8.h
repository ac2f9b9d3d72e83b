// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <span>
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

/// One well-formed UTF-8 sequence, or what stands where there is none.
struct Utf8Sequence {
    std::size_t length = 0;   ///< 1-4 bytes; 0 when the bytes are no well-formed sequence
    std::size_t subpart = 1;  ///< bytes of the longest start of a well-formed sequence: what one U+FFFD stands for
    char32_t codePoint = 0;
};

/// The sequence at bytes[i] (i < bytes.size()), strictly: overlong forms,
/// surrogates and code points past U+10FFFF are not well-formed, nor is a
/// sequence cut off by the end of bytes. Every UTF-8 test of the engine goes
/// through it.
[[nodiscard]] inline Utf8Sequence Utf8SequenceAt(std::span<const unsigned char> bytes, std::size_t i)
{
    Utf8Sequence s;
    const unsigned char b = bytes[i];
    if (b < 0x80) {
        s.length = 1;
        s.codePoint = b;
        return s;
    }
    std::size_t length;
    char32_t cp;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        cp = b & 0x0F;
        if (b == 0xE0)
            low = 0xA0;  // overlong below
        else if (b == 0xED)
            high = 0x9F;  // surrogates above
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        cp = b & 0x07;
        if (b == 0xF0)
            low = 0x90;  // overlong below
        else if (b == 0xF4)
            high = 0x8F;  // past U+10FFFF above
    } else {
        return s;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size())
            return s;
        const unsigned char c = bytes[i + k];
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return s;
        cp = (cp << 6) | (c & 0x3F);
        s.subpart = k + 1;
    }
    s.length = length;
    s.codePoint = cp;
    return s;
}

/// Whether bytes are well-formed UTF-8 throughout, as Utf8SequenceAt reads
/// it; stretches of ASCII go a word at a time.
[[nodiscard]] bool IsValidUtf8(std::span<const unsigned char> bytes);

/// Appends bytes to out as UTF-8 text, with one U+FFFD for each maximal
/// ill-formed subpart; returns how many bytes were ill-formed.
std::size_t DecodeUtf8(std::span<const unsigned char> bytes, std::string& out);

/// DecodeUtf8's count without the text.
[[nodiscard]] std::size_t CountInvalidUtf8(std::span<const unsigned char> bytes);

/// Adds the sequences of two bytes or more in bytes to `multibyte`; false
/// (and `multibyte` partly added to) when bytes are not well-formed.
bool CountUtf8Multibyte(std::span<const unsigned char> bytes, int& multibyte);

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

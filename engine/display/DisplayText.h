// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string_view>

namespace veltrane {

/// Fixed buffer that receives one record's display text. It may be moved back
/// over what was written (a wrap closed by a field terminator); the text is
/// everything up to the furthest byte ever written.
class DisplayText {
public:
    // Each 72 bytes of a continuation line cost at most six more (line end and
    // five spaces), so a full FieldBuffer always fits.
    static constexpr std::size_t kCapacity = 128 * 1024;

    void clear() { m_position = m_length = 0; }
    void put(unsigned char b);
    void put(std::string_view bytes);
    void put(const unsigned char* bytes, std::size_t n);
    void moveBack(std::size_t n);

    [[nodiscard]] std::string_view text() const
    {
        return {reinterpret_cast<const char*>(m_bytes), m_length};
    }

private:
    unsigned char m_bytes[kCapacity];
    std::size_t m_position = 0;
    std::size_t m_length = 0;
};

/// Lays out the tag-plus-field bytes of one record as display text: one line per
/// field, subfield delimiters before a letter or digit shown as '$', lines
/// wrapped after 77 bytes with five-space continuation lines and never between
/// the two bytes of a double-byte character. Line ends are '\n'.
void RenderDisplayText(DisplayText& out, const unsigned char* fieldBytes, std::size_t usedLength,
                       unsigned char fieldTerminator, unsigned char subfieldDelimiter);

}  // namespace veltrane

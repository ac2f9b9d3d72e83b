// SPDX-License-Identifier: Apache-2.0
#include "display/DisplayText.h"

#include <algorithm>
#include <cstring>

#include "display/LineWrap.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

// Columns are bytes here: a line holds kLineColumns bytes before it wraps.
constexpr int kLastColumn = kLineColumns - 1;

constexpr bool hasHighBit(unsigned char b) { return (b & 0x80) != 0; }

}  // namespace

void DisplayText::put(unsigned char b)
{
    // The capacity covers any FieldBuffer; a byte beyond it is dropped rather
    // than written outside the buffer.
    if (m_position >= kCapacity)
        return;
    m_bytes[m_position++] = b;
    m_length = std::max(m_length, m_position);
}

void DisplayText::put(std::string_view bytes)
{
    put(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

void DisplayText::put(const unsigned char* bytes, std::size_t n)
{
    n = std::min(n, kCapacity - std::min(m_position, kCapacity));
    std::memcpy(m_bytes + m_position, bytes, n);
    m_position += n;
    m_length = std::max(m_length, m_position);
}

void DisplayText::moveBack(std::size_t n)
{
    m_position -= std::min(n, m_position);
}

namespace {

/// Ends a full line: an odd run of high bytes ends on the first byte of a
/// double-byte character, whose second byte stays on this line; the next
/// line starts with five spaces.
void wrap(DisplayText& out, const unsigned char* fieldBytes, std::size_t usedLength, std::size_t& k, int& hi,
          int& col, bool& wrapped)
{
    if (hi % 2 == 1 && k < usedLength && hasHighBit(fieldBytes[k]))
        out.put(fieldBytes[k++]);
    out.put(kLineWrap);
    hi = 0;
    col = kContinuationIndent;
    wrapped = true;
}

}  // namespace

void RenderDisplayText(DisplayText& out, const unsigned char* fieldBytes, std::size_t usedLength,
                       unsigned char fieldTerminator, unsigned char subfieldDelimiter)
{
    int col = 0;
    int hi = 0;  // bytes with bit 7 set ending at the current byte
    bool wrapped = false;
    std::size_t k = 0;
    while (k < usedLength) {
        // Bytes that are neither terminator nor delimiter go as they are, as
        // many at a time as fit before the line would wrap.
        std::size_t plain = k;
        const std::size_t stop = std::min(usedLength, k + static_cast<std::size_t>(kLastColumn + 1 - col));
        while (plain < stop && fieldBytes[plain] != fieldTerminator && fieldBytes[plain] != subfieldDelimiter)
            ++plain;
        if (plain > k) {
            const std::size_t n = plain - k;
            out.put(fieldBytes + k, n);
            std::size_t trailingHigh = 0;
            while (trailingHigh < n && hasHighBit(fieldBytes[plain - 1 - trailingHigh]))
                ++trailingHigh;
            hi = trailingHigh == n ? hi + static_cast<int>(n) : static_cast<int>(trailingHigh);
            k = plain;
            col += static_cast<int>(n);
            wrapped = false;
            if (col > kLastColumn)
                wrap(out, fieldBytes, usedLength, k, hi, col, wrapped);
            continue;
        }
        const unsigned char b = fieldBytes[k];
        hi = hasHighBit(b) ? hi + 1 : 0;
        if (b == fieldTerminator) {
            col = -1;
            hi = 0;
            // A wrap that ends exactly at the field's end already made the line
            // end; its five spaces are left for the next tag to overwrite.
            if (wrapped)
                out.moveBack(kContinuationIndent);
            else
                out.put('\n');
        } else if (b == subfieldDelimiter && k + 1 < usedLength && IsAsciiLetterOrDigit(fieldBytes[k + 1])) {
            out.put('$');
        } else {
            out.put(b);
        }
        ++k;
        ++col;
        wrapped = false;
        if (col > kLastColumn)
            wrap(out, fieldBytes, usedLength, k, hi, col, wrapped);
    }
}

}  // namespace veltrane

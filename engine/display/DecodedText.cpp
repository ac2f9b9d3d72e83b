// SPDX-License-Identifier: Apache-2.0
#include "display/DecodedText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "charset/ByteWords.h"
#include "charset/UnicodeWidth.h"
#include "charset/Utf8.h"
#include "display/LineBreak.h"
#include "display/LineWrap.h"
#include "display/Utf8RecordLayout.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

/// Lays one logical line (a field's decoded text) out: clusters of a base
/// character and its marks stay whole, a line ends when it reaches 77
/// columns, and a cluster that would cross that column starts the next line.
class LineLayout {
public:
    /// Appends to out; finish() ends the text.
    explicit LineLayout(std::string& out) : m_out(out), m_used(out.size()) {}

    void layout(std::string_view line, bool terminated)
    {
        // Every byte makes at most three (a control's picture); wraps add six
        // per line of at least 70 columns.
        reserve(4 * line.size() + 2 * kLineWrap.size() + 8);
        char* const floor = m_out.data() + m_used;
        char* out = floor;
        int col = 0;
        bool pendingWrap = false;
        std::size_t i = 0;
        // Where a word or a subfield code would be cut, the break moves back.
        auto wrapBefore = [&](char32_t next) {
            out = BreakDecodedLine(floor, out, col, next < 0x80 && IsAsciiLetterOrDigit(static_cast<unsigned char>(next)));
        };
        auto wrap = [&] {
            std::memcpy(out, kLineWrap.data(), kLineWrap.size());
            out += kLineWrap.size();
            col = kContinuationIndent;
        };
        while (i < line.size()) {
            // Printable ASCII goes in stretches; the last letter before a
            // non-ASCII byte may take a mark, so it goes the long way.
            std::size_t run = printableRun(line, i);
            if (run > 0 && i + run < line.size())
                --run;
            while (run > 0) {
                if (pendingWrap)
                    wrapBefore(static_cast<unsigned char>(line[i]));
                const std::size_t n = std::min(run, static_cast<std::size_t>(kLineColumns - col));
                std::memcpy(out, line.data() + i, n);
                out += n;
                col += static_cast<int>(n);
                i += n;
                run -= n;
                pendingWrap = col >= kLineColumns;
            }
            if (i >= line.size())
                break;
            // The cluster: one code point and every mark or joiner after it.
            const std::size_t start = i;
            const char32_t first = NextCodePoint(line, i);
            int width = columns(first);
            std::size_t end = i;
            // Below U+0300 (lead bytes under 0xCC) nothing extends a cluster.
            while (end < line.size() && static_cast<unsigned char>(line[end]) >= 0xCC) {
                std::size_t next = end;
                const char32_t cp = NextCodePoint(line, next);
                if (!IsClusterExtender(cp))
                    break;
                width += columns(cp);
                end = next;
            }
            const bool single = end == i;
            i = end;
            if (pendingWrap || (col + width > kLineColumns && col > kContinuationIndent)) {
                wrapBefore(first);
                pendingWrap = false;
            }
            if (col + width <= kLineColumns) {
                // A lone character past the C1 controls shows as it is.
                if (single && first >= 0xA0) {
                    std::memcpy(out, line.data() + start, end - start);
                    out += end - start;
                } else {
                    out = putCluster(line.substr(start, end - start), out);
                }
                col += width;
            } else {
                // Only a run of spacing marks wider than a whole line gets here;
                // it is broken between code points.
                for (std::size_t k = start; k < end;) {
                    const std::size_t from = k;
                    const int w = columns(NextCodePoint(line, k));
                    if (col + w > kLineColumns)
                        wrap();
                    out = putCluster(line.substr(from, k - from), out);
                    col += w;
                }
            }
            pendingWrap = col >= kLineColumns;
        }
        // A wrap that falls exactly at the field's end makes no empty
        // continuation line.
        if (terminated || !line.empty())
            *out++ = '\n';
        m_used = static_cast<std::size_t>(out - m_out.data());
    }

    /// Cuts the text to what was laid out.
    void finish() { m_out.resize(m_used); }

private:
    /// Room for n more bytes past what is laid out.
    void reserve(std::size_t n)
    {
        if (m_out.size() - m_used < n)
            m_out.resize(std::max(m_out.size() + m_out.size() / 2, m_used + n));
    }

    /// Length of the stretch of printable ASCII at line[i], a word at a time.
    static std::size_t printableRun(std::string_view line, std::size_t i)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(line.data()) + i;
        const auto* const end = reinterpret_cast<const unsigned char*>(line.data()) + line.size();
        const auto* const from = p;
        while (end - p >= 8) {
            // A high bit in the byte itself, in it plus one (DEL) or in it
            // less 0x20 (a control; a borrow only follows such a byte).
            const std::uint64_t word = LoadWord(p);
            if (((word | (word + kOnes) | (word - kOnes * 0x20)) & kHighBits) != 0)
                break;
            p += 8;
        }
        while (p < end && IsPrintableAscii(static_cast<char>(*p)))
            ++p;
        return static_cast<std::size_t>(p - from);
    }

    /// Columns of a code point as shown: controls show as their pictures.
    static int columns(char32_t cp)
    {
        if (cp < 0x20 || cp == kDeleteByte || (cp >= 0x80 && cp < 0xA0))
            return 1;
        return DisplayWidth(cp);
    }

    /// Writes code points at out, controls as pictures: C0 controls as
    /// U+2400-241F, DEL as U+2421, C1 controls as ShownC1Control says.
    /// Returns the end.
    static char* putCluster(std::string_view text, char* out)
    {
        for (std::size_t i = 0; i < text.size();) {
            const auto b = static_cast<unsigned char>(text[i]);
            if (b >= 0x20 && b < kDeleteByte) {
                *out++ = static_cast<char>(b);
                ++i;
                continue;
            }
            const std::size_t from = i;
            const char32_t cp = NextCodePoint(text, i);
            if (cp < 0x20)
                out = putUtf8(out, kControlPictures + cp);
            else if (cp == kDeleteByte)
                out = putUtf8(out, kDeletePicture);
            else if (cp >= 0x80 && cp < 0xA0)
                out = putUtf8(out, ShownC1Control(cp));
            else {
                std::memcpy(out, text.data() + from, i - from);
                out += i - from;
            }
        }
        return out;
    }

    /// A code point of the BMP as three bytes of UTF-8 at out.
    static char* putUtf8(char* out, char32_t cp)
    {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        return out;
    }

    std::string& m_out;
    std::size_t m_used;  ///< bytes of m_out laid out; the rest is room
};

}  // namespace

std::size_t RenderDecodedDisplayTextByRuns(TextCodec& codec, Charset charset, const RecordFields& record,
                                           unsigned char fieldTerminator, unsigned char subfieldDelimiter,
                                           std::string& out)
{
    std::size_t invalidBytes = 0;
    const auto bytes = record.bytes();
    const auto fields = record.fields();
    out.reserve(out.size() + bytes.size() + bytes.size() / 4 + 64);
    LineLayout layout(out);
    std::string line;
    line.reserve(bytes.size());
    std::size_t runStart = 0;
    auto flush = [&](std::size_t end) {
        if (end > runStart)
            invalidBytes += codec.decode(charset, bytes.subspan(runStart, end - runStart), line);
        runStart = end;
    };
    // A run starts at every tag and after it, so escape sequences never carry
    // from one field into the next. Boundary 2i is field i's start, 2i+1 its
    // tag's end; both never decrease.
    auto boundary = [&](std::size_t b) {
        const FieldSpan& f = fields[b / 2];
        return b % 2 == 0 ? f.offset : f.offset + std::min(f.length, kTagLength);
    };
    std::size_t nextBoundary = 0;
    const std::size_t boundaries = 2 * fields.size();
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        while (nextBoundary < boundaries && boundary(nextBoundary) < k)
            ++nextBoundary;
        if (nextBoundary < boundaries && boundary(nextBoundary) == k) {
            flush(k);
        } else {
            // Bytes that are neither at a boundary nor a delimiter only join the run.
            const std::size_t limit = nextBoundary < boundaries ? boundary(nextBoundary) : bytes.size();
            std::size_t j = k;
            while (j < limit && bytes[j] != fieldTerminator && bytes[j] != subfieldDelimiter)
                ++j;
            if (j > k) {
                k = j - 1;  // the loop goes on at j
                continue;
            }
        }
        const unsigned char b = bytes[k];
        if (b == fieldTerminator) {
            flush(k);
            runStart = k + 1;
            layout.layout(line, true);
            line.clear();
        } else if (b == subfieldDelimiter && k + 1 < bytes.size() && IsAsciiLetterOrDigit(bytes[k + 1])) {
            flush(k);
            runStart = k + 1;
            line += '$';
        }
    }
    flush(bytes.size());
    layout.layout(line, false);
    layout.finish();
    return invalidBytes;
}

std::size_t RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                     unsigned char fieldTerminator, unsigned char subfieldDelimiter, std::string& out)
{
    if (charset == Charset::Utf8)
        return LayOutUtf8Record(record, fieldTerminator, subfieldDelimiter, out);
    return RenderDecodedDisplayTextByRuns(codec, charset, record, fieldTerminator, subfieldDelimiter, out);
}

DecodedDisplay RenderDecodedDisplayText(TextCodec& codec, Charset charset, const RecordFields& record,
                                        unsigned char fieldTerminator, unsigned char subfieldDelimiter)
{
    DecodedDisplay display;
    display.invalidBytes =
        RenderDecodedDisplayText(codec, charset, record, fieldTerminator, subfieldDelimiter, display.text);
    return display;
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "display/Utf8RecordLayout.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "charset/ByteWords.h"
#include "charset/UnicodeWidthTables.h"
#include "charset/Utf8.h"
#include "display/LineBreak.h"
#include "display/LineWrap.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

/// Lays a UTF-8 record out straight from its field bytes: each character is
/// checked, measured and placed in one pass, with no decoded copy of a line
/// in between. It gives what decoding each run through TextCodec and laying
/// the lines out with LineLayout gives (RenderDecodedDisplayTextByRuns), and
/// the tests hold the two to that.
class Utf8RecordLayout {
public:
    Utf8RecordLayout(const RecordFields& record, unsigned char fieldTerminator, unsigned char subfieldDelimiter,
                     std::string& out)
        : m_bytes(record.bytes().data()),
          m_size(record.bytes().size()),
          m_fields(record.fields()),
          m_terminator(fieldTerminator),
          m_delimiter(subfieldDelimiter),
          // A '$' delimiter shows as '$' whatever follows it, so it never
          // interrupts a stretch of ASCII.
          m_stretchStop(subfieldDelimiter == '$' ? fieldTerminator : subfieldDelimiter),
          m_out(out),
          m_start(out.size())
    {
        const std::size_t used = m_out.size();
        m_out.resize(used + m_size + m_size / 4 + 64);
        m_at = m_out.data() + used;
        m_end = m_out.data() + m_out.size();
    }

    /// Appends the text; returns the count of invalid bytes.
    std::size_t render()
    {
        std::size_t p = 0;
        while (p < m_size) {
            if (m_ahead.length == 0) {
                const std::size_t r = putLetters(p);
                if (r > p) {
                    p = r;
                    m_lineEmpty = false;
                    continue;
                }
                if (p >= m_size)
                    break;
            }
            const unsigned char b = m_bytes[p];
            if (b == m_terminator) {
                ensure(1);
                *m_at++ = '\n';
                m_col = 0;
                m_pendingWrap = false;
                m_lineEmpty = true;
                ++p;
                continue;
            }
            putCluster(p);
            m_lineEmpty = false;
        }
        // A wrap that falls exactly at the end makes no empty continuation line.
        if (!m_lineEmpty) {
            ensure(1);
            *m_at++ = '\n';
        }
        m_out.resize(static_cast<std::size_t>(m_at - m_out.data()));
        return m_invalid;
    }

private:
    // Below U+0300 (lead bytes under 0xCC) nothing extends a cluster.
    static constexpr unsigned char kMarkLead = 0xCC;

    /// One character as shown. Its bytes are copied when `copy`, else it
    /// shows as `shown` (a picture, U+FFFD or '$').
    struct Shown {
        std::size_t length = 0;  ///< bytes it takes in the record; 0: none held
        char32_t shown = 0;
        int kind = unicode_width::kPlain;
        bool copy = false;
        bool valid = true;  ///< false: U+FFFD for an ill-formed part
    };

    [[nodiscard]] bool inStretch(unsigned char b) const
    {
        return b >= 0x20 && b < kDeleteByte && b != m_terminator && b != m_stretchStop;
    }

    /// Where the stretch of printable ASCII (without terminators and
    /// delimiters) from p ends.
    [[nodiscard]] std::size_t stretchEnd(std::size_t p) const
    {
#if defined(__SSE2__)
        const __m128i control = _mm_set1_epi8(0x20), del = _mm_set1_epi8(static_cast<char>(kDeleteByte));
        const __m128i terminator = _mm_set1_epi8(static_cast<char>(m_terminator));
        const __m128i stop = _mm_set1_epi8(static_cast<char>(m_stretchStop));
        while (m_size - p >= 16) {
            // Signed compares: high bytes are negative, below the controls' end.
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_bytes + p));
            const __m128i outside =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, del), _mm_cmpeq_epi8(block, terminator)),
                             _mm_or_si128(_mm_cmpeq_epi8(block, stop), _mm_cmplt_epi8(block, control)));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(outside));
            if (mask != 0)
                return p + static_cast<std::size_t>(__builtin_ctz(mask));
            p += 16;
        }
#endif
        while (p < m_size && inStretch(m_bytes[p]))
            ++p;
        return p;
    }

    /// Copies bytes [p, r) of printable ASCII, wrapping where the columns run out.
    void putStretch(std::size_t p, std::size_t r)
    {
        const std::size_t n = r - p;
        // A line breaks after a word keeps at least 57 columns of its own.
        ensure(n + (n / 32 + 2) * kLineWrap.size() + 8);
        while (p < r) {
            if (m_pendingWrap)
                wrapBefore(m_bytes[p]);
            const std::size_t k = std::min(r - p, static_cast<std::size_t>(kLineColumns - m_col));
            copyBytes(m_at, m_bytes + p, k);
            m_at += k;
            m_col += static_cast<int>(k);
            p += k;
            m_pendingWrap = m_col >= kLineColumns;
        }
    }

    static void copyBytes(char* to, const unsigned char* from, std::size_t n)
    {
        // Short stretches are the rule: overlapping word copies beat a call.
        if (n >= 16) {
            std::size_t k = 0;
#if defined(__SSE2__)
            for (; k + 16 <= n; k += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
            if (k < n)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n - 16),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + n - 16)));
#else
            std::memcpy(to, from, n);
#endif
        } else if (n >= 8) {
            const std::uint64_t head = LoadWord(from), tail = LoadWord(from + n - 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + n - 8, &tail, 8);
        } else if (n >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + n - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + n - 4, &tail, 4);
        } else {
            for (std::size_t k = 0; k < n; ++k)
                to[k] = static_cast<char>(from[k]);
        }
    }

    /// The end of the run holding p: each tag and each field's bytes after
    /// it are decoded on their own, so no sequence reaches across. `field`
    /// is a cursor that only moves on.
    [[nodiscard]] std::size_t runEnd(std::size_t p, std::size_t& field) const
    {
        while (field < m_fields.size() && m_fields[field].offset + m_fields[field].length <= p)
            ++field;
        if (field == m_fields.size())
            return m_size;
        const FieldSpan& f = m_fields[field];
        if (p < f.offset)
            return f.offset;
        const std::size_t tagEnd = f.offset + std::min(f.length, kTagLength);
        return p < tagEnd ? tagEnd : f.offset + f.length;
    }

    /// The UTF-8 character at p (a byte 0x80 or above) within the run ending
    /// at end.
    [[nodiscard]] Shown decodeAt(std::size_t p, std::size_t end) const
    {
        Shown s;
        const Utf8Sequence sequence = Utf8SequenceAt({m_bytes, end}, p);
        const std::size_t length = sequence.length;
        const std::size_t subpart = sequence.subpart;
        const char32_t cp = sequence.codePoint;
        if (length == 0) {
            s.length = subpart;
            s.shown = kReplacementCharacter;
            s.valid = false;
            return s;
        }
        s.length = length;
        if (cp < 0xA0) {
            s.shown = ShownC1Control(cp);
        } else {
            s.shown = cp;
            s.kind = unicode_width::WidthClassOf(cp);
            s.copy = true;
        }
        return s;
    }

    /// The character at p as shown.
    [[nodiscard]] Shown charAt(std::size_t p)
    {
        const unsigned char b = m_bytes[p];
        if (b >= 0x80) {
            if (p >= m_runEnd)
                m_runEnd = runEnd(p, m_field);
            return decodeAt(p, m_runEnd);
        }
        Shown s;
        s.length = 1;
        if (b == m_delimiter && p + 1 < m_size && IsAsciiLetterOrDigit(m_bytes[p + 1]))
            s.shown = '$';
        else if (b < 0x20)
            s.shown = kControlPictures + b;
        else if (b == kDeleteByte)
            s.shown = kDeletePicture;
        else
            s.shown = b;
        return s;
    }

    static int columnsOf(const Shown& s)
    {
        switch (s.kind) {
        case unicode_width::kMark:
        case unicode_width::kFormat: return 0;
        case unicode_width::kWide: return 2;
        default: return 1;
        }
    }

    /// Lays out from p, in a loop of its own, the bulk of text in most
    /// scripts: stretches of printable ASCII, and characters of two or three
    /// bytes (not controls), none followed by a mark. Returns where it
    /// stopped: at anything else, which goes the cluster way.
    std::size_t putLetters(std::size_t p)
    {
        const unsigned char* const bytes = m_bytes;
        char* at = m_at;
        int col = m_col;
        bool pendingWrap = m_pendingWrap;
        std::size_t end = m_runEnd;  // of the run holding the character decoded last
        // The character at hand, decoded: its length (0: none), code point and class.
        std::size_t length = 0;
        char32_t cp = 0;
        int kind = unicode_width::kPlain;
        // Decodes a character of two or three bytes (not a C1 control) at i
        // within its run. Inlined, or its call costs more than its work.
        auto decode = [&](std::size_t i) __attribute__((always_inline)) {
            const unsigned b0 = bytes[i];
            length = 0;
            if (b0 < 0xC2 || b0 >= 0xF0)
                return;
            if (i >= end) {
                end = runEnd(i, m_field);
                m_runEnd = end;
            }
            if (b0 < 0xE0) {
                if (i + 1 < end && (bytes[i + 1] & 0xC0) == 0x80) {
                    cp = (b0 & 0x1F) << 6 | (bytes[i + 1] & 0x3F);
                    length = cp >= 0xA0 ? 2 : 0;  // C1 controls go the long way
                }
            } else {
                // The second byte's range keeps out overlong forms and surrogates.
                const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80, high = b0 == 0xED ? 0x9F : 0xBF;
                if (i + 2 < end && bytes[i + 1] >= low && bytes[i + 1] <= high && (bytes[i + 2] & 0xC0) == 0x80) {
                    cp = (b0 & 0x0F) << 12 | (bytes[i + 1] & 0x3F) << 6 | (bytes[i + 2] & 0x3F);
                    length = 3;
                }
            }
            if (length != 0)
                kind = unicode_width::WidthClassOf(cp);
        };
        auto wrap = [&](bool nextIsCode) { at = BreakDecodedLine(m_out.data() + m_start, at, col, nextIsCode); };
        while (true) {
            if (length == 0) {
                if (p >= m_size)
                    break;
                if (inStretch(bytes[p])) {
                    std::size_t r = stretchEnd(p);
                    // The last letter before anything else goes with what
                    // follows, which may be its mark.
                    const bool held = r < m_size && bytes[r] >= 0x80;
                    r -= held;
                    if (r > p) {
                        m_at = at;
                        m_col = col;
                        m_pendingWrap = pendingWrap;
                        putStretch(p, r);
                        at = m_at;
                        col = m_col;
                        pendingWrap = m_pendingWrap;
                        p = r;
                    }
                    if (!held)
                        continue;
                    length = 1;
                    kind = unicode_width::kPlain;
                } else {
                    decode(p);
                    if (length == 0)
                        break;
                }
            }
            // The character at p; a mark or joiner after it makes a cluster,
            // which goes the long way.
            const std::size_t here = length;
            const int width = kind == unicode_width::kWide ? 2 : kind == unicode_width::kMark || kind == unicode_width::kFormat ? 0 : 1;
            const std::size_t next = p + here;
            length = 0;
            if (next < m_size && bytes[next] >= 0x80) {
                decode(next);
                if (length != 0 ? isExtender(cp, kind) : bytes[next] >= kMarkLead && extenderAt(next))
                    break;
            }
            if (static_cast<std::size_t>(m_end - at) < 16) {
                m_at = at;
                grow(16);
                at = m_at;
            }
            // A character of one byte here is printable ASCII shown as itself.
            if (pendingWrap || (col + width > kLineColumns && col > kContinuationIndent))
                wrap(here == 1 && IsAsciiLetterOrDigit(bytes[p]));
            if (p + 4 <= m_size) {
                std::memcpy(at, bytes + p, 4);  // the room has bytes to spare
            } else {
                for (std::size_t k = 0; k < here; ++k)
                    at[k] = static_cast<char>(bytes[p + k]);
            }
            at += here;
            col += width;
            pendingWrap = col >= kLineColumns;
            p = next;
        }
        m_at = at;
        m_col = col;
        m_pendingWrap = pendingWrap;
        return p;
    }

    /// Whether a well-formed character of class kind stays on the line of the
    /// one before it.
    static bool isExtender(char32_t cp, int kind)
    {
        return cp >= 0x300 &&
               (kind == unicode_width::kMark || kind == unicode_width::kSpacingMark || cp == unicode_width::kZeroWidthJoiner || cp == unicode_width::kZeroWidthNonJoiner);
    }

    /// Whether the character at p (in any run) stays on the line of the one before it.
    [[nodiscard]] bool extenderAt(std::size_t p) const
    {
        std::size_t field = m_field;
        return extends(decodeAt(p, p < m_runEnd ? m_runEnd : runEnd(p, field)));
    }

    /// Whether a character stays on the line of the one before it.
    static bool extends(const Shown& s) { return s.copy && isExtender(s.shown, s.kind); }

    /// Lays out the cluster at p: its first character and every mark or
    /// joiner after it. p moves past it.
    void putCluster(std::size_t& p)
    {
        const Shown first = m_ahead.length != 0 ? m_ahead : charAt(p);
        m_ahead.length = 0;
        if (!first.valid)
            m_invalid += first.length;
        int width = columnsOf(first);
        std::size_t end = p + first.length;
        while (end < m_size && m_bytes[end] >= kMarkLead) {
            std::size_t field = m_field;
            const std::size_t runLimit = end < m_runEnd ? m_runEnd : runEnd(end, field);
            const Shown next = decodeAt(end, runLimit);
            if (!extends(next)) {
                // The next cluster starts with it; it is not decoded again.
                if (end >= m_runEnd) {
                    m_runEnd = runLimit;
                    m_field = field;
                }
                m_ahead = next;
                break;
            }
            width += columnsOf(next);
            end += next.length;
        }
        ensure(4 * (end - p) + 2 * kLineWrap.size() + 8);
        if (m_pendingWrap || (m_col + width > kLineColumns && m_col > kContinuationIndent)) {
            wrapBefore(first.shown < 0x80 ? static_cast<unsigned char>(first.shown) : 0x80);
            m_pendingWrap = false;
        }
        if (m_col + width <= kLineColumns) {
            put(first, p);
            // Marks and joiners show as they are.
            copyMarks(p + first.length, end);
            m_col += width;
        } else {
            // Only a run of spacing marks wider than a whole line gets here;
            // it is broken between code points.
            std::size_t at = p;
            Shown s = first;
            while (true) {
                const int w = columnsOf(s);
                if (m_col + w > kLineColumns)
                    wrap();
                put(s, at);
                m_col += w;
                at += s.length;
                if (at >= end)
                    break;
                std::size_t field = m_field;
                s = decodeAt(at, at < m_runEnd ? m_runEnd : runEnd(at, field));
            }
        }
        m_pendingWrap = m_col >= kLineColumns;
        p = end;
    }

    void copyMarks(std::size_t from, std::size_t to)
    {
        copyBytes(m_at, m_bytes + from, to - from);
        m_at += to - from;
    }

    void put(const Shown& s, std::size_t p)
    {
        if (s.copy) {
            copyMarks(p, p + s.length);
        } else if (s.shown < 0x80) {
            *m_at++ = static_cast<char>(s.shown);
        } else {
            // Pictures and U+FFFD lie in the BMP: three bytes.
            *m_at++ = static_cast<char>(0xE0 | (s.shown >> 12));
            *m_at++ = static_cast<char>(0x80 | ((s.shown >> 6) & 0x3F));
            *m_at++ = static_cast<char>(0x80 | (s.shown & 0x3F));
        }
    }

    /// A wrap before the character `next` (its byte when ASCII): where a word
    /// or a subfield code would be cut, the break moves back.
    void wrapBefore(unsigned char next)
    {
        m_at = BreakDecodedLine(m_out.data() + m_start, m_at, m_col, IsAsciiLetterOrDigit(next));
    }

    void wrap()
    {
        std::memcpy(m_at, kLineWrap.data(), kLineWrap.size());
        m_at += kLineWrap.size();
        m_col = kContinuationIndent;
    }

    /// Room for n more bytes at m_at.
    void ensure(std::size_t n)
    {
        if (static_cast<std::size_t>(m_end - m_at) < n) [[unlikely]]
            grow(n);
    }

    [[gnu::noinline]] void grow(std::size_t n)
    {
        const std::size_t used = static_cast<std::size_t>(m_at - m_out.data());
        m_out.resize(std::max(m_out.size() + m_out.size() / 2, used + n));
        m_at = m_out.data() + used;
        m_end = m_out.data() + m_out.size();
    }

    const unsigned char* const m_bytes;
    const std::size_t m_size;
    const std::span<const FieldSpan> m_fields;
    const unsigned char m_terminator;
    const unsigned char m_delimiter;
    const unsigned char m_stretchStop;  ///< the delimiter, or the terminator again when the delimiter is '$'
    std::string& m_out;
    const std::size_t m_start;  ///< where this record's text starts in m_out
    char* m_at = nullptr;   ///< where the next byte goes
    char* m_end = nullptr;  ///< the end of the room in m_out
    std::size_t m_field = 0;   ///< cursor of runEnd() for the character being laid out
    std::size_t m_runEnd = 0;  ///< end of the run holding it (0: not yet found)
    Shown m_ahead;             ///< the character after a cluster, when decoded already
    int m_col = 0;
    bool m_pendingWrap = false;
    bool m_lineEmpty = true;
    std::size_t m_invalid = 0;
};

}  // namespace

std::size_t LayOutUtf8Record(const RecordFields& record, unsigned char fieldTerminator,
                             unsigned char subfieldDelimiter, std::string& out)
{
    return Utf8RecordLayout(record, fieldTerminator, subfieldDelimiter, out).render();
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "search/BlockSearch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "charset/Utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane {

namespace {

constexpr unsigned char kEscape = 0x1B;                // starts a MARC-8 escape sequence
constexpr unsigned char kLigatureSecondHalf = 0xEC;    // MARC-8 combining mark that decodes to nothing
constexpr unsigned char kDoubleTildeSecondHalf = 0xFB; // likewise
// A match may start this many bytes before the field's data: in its tag.
constexpr std::size_t kBytesBeforeData = kTagLength;

/// The pattern as records are compared with it: "$" before a letter or digit
/// is the subfield delimiter, letters folded unless case counts.
std::string comparable(std::string bytes, const SearchQuery& query)
{
    const unsigned char delimiter = SubfieldDelimiter(query.delimiterMode);
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == '$' && IsAsciiLetterOrDigit(static_cast<unsigned char>(bytes[i + 1])))
            bytes[i] = static_cast<char>(delimiter);
    }
    if (!query.caseSensitive) {
        for (char& c : bytes)
            c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    }
    return bytes;
}

/// Whether the byte at i is an escape, or a MARC-8 byte that decodes to
/// nothing right after an ASCII byte.
bool breaksAsciiRun(const unsigned char* bytes, std::size_t i)
{
    const unsigned char b = bytes[i];
    return b == kEscape
           || (i > 0 && bytes[i - 1] < 0x80 && (b == kLigatureSecondHalf || b == kDoubleTildeSecondHalf));
}

/// The first position in bytes[0, n) where breaksAsciiRun holds; n when none.
std::size_t firstAsciiRunBreak(const unsigned char* bytes, std::size_t n)
{
    std::size_t i = 0;
    if (n > 0 && breaksAsciiRun(bytes, 0))
        return 0;
    i = 1;
#if defined(__SSE2__)
    const __m128i escape = _mm_set1_epi8(static_cast<char>(kEscape));
    const __m128i ligature = _mm_set1_epi8(static_cast<char>(kLigatureSecondHalf));
    const __m128i tilde = _mm_set1_epi8(static_cast<char>(kDoubleTildeSecondHalf));
    for (; i + 16 <= n; i += 16) {
        const __m128i current = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i - 1));
        const unsigned escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(current, escape)));
        const unsigned halves = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(current, ligature), _mm_cmpeq_epi8(current, tilde))));
        const unsigned afterAscii = ~static_cast<unsigned>(_mm_movemask_epi8(previous)) & 0xFFFFu;
        if (const unsigned hits = escapes | (halves & afterAscii); hits != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(hits));
    }
#endif
    for (; i < n; ++i) {
        if (breaksAsciiRun(bytes, i))
            return i;
    }
    return n;
}

/// Whether the text holds a character no MARC-8 record shows without an
/// escape: the default sets (ASCII and ANSEL) hold no ideograph, kana or
/// Hangul.
bool needsEscapeInMarc8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x3000 && cp < 0xFE00)
            return true;
    }
    return false;
}

/// Marks the records whose bytes hold a hit of find, which gives the first
/// hit in bytes[at, end) as a position from at, or nothing.
template <typename Find>
void markHits(const unsigned char* block, std::span<const RecordInBlock> records, std::vector<char>& candidate,
              Find find)
{
    std::size_t at = records.front().offset;
    const std::size_t end = records.back().offset + records.back().length;
    std::size_t r = 0;
    while (at < end) {
        const std::optional<std::size_t> hit = find(block + at, end - at);
        if (!hit)
            return;
        const std::size_t h = at + *hit;
        while (r < records.size() && records[r].offset + records[r].length <= h)
            ++r;
        if (r == records.size())
            return;
        if (records[r].offset > h) {  // between two records
            at = h + 1;
            continue;
        }
        candidate[r] = 1;
        // The next record not yet marked is where the search goes on.
        for (++r; r < records.size() && candidate[r] != 0; ++r) {
        }
        if (r == records.size())
            return;
        at = records[r].offset;
    }
}

}  // namespace

BlockPrefilter::BlockPrefilter(const SearchQuery& query, const QueryMatcher& matcher)
{
    if (matcher.empty())
        return;
    for (std::string_view pattern : matcher.bytePatterns()) {
        // The match may start in the tag: up to three bytes of it there.
        std::size_t skip = std::min(kBytesBeforeData, pattern.size() - 1);
        if (query.tag.size() == kTagLength) {
            // In a field with a known tag, only where the pattern's start
            // agrees with the tag's end.
            const std::string start = comparable(std::string(pattern), query);
            std::string tag = query.tag;
            if (!query.caseSensitive)
                std::transform(tag.begin(), tag.end(), tag.begin(),
                               [](char c) { return static_cast<char>(FoldUpper(static_cast<unsigned char>(c))); });
            while (skip > 0 && start.compare(0, skip, tag, kTagLength - skip, skip) != 0)
                --skip;
        }
        addNeedle(std::string(pattern.substr(skip)), query);
    }
    if (!matcher.searchesMarc8())
        return;
    m_marc8Breaks = true;
    const std::string& text = matcher.marc8Text();
    std::string best;
    for (std::size_t p = 0; p < text.size();) {
        if (static_cast<unsigned char>(text[p]) >= 0x80) {
            ++p;
            continue;
        }
        std::size_t n = 0;
        while (p + n < text.size() && static_cast<unsigned char>(text[p + n]) < 0x80)
            ++n;
        const std::size_t inTag = std::min(p < kBytesBeforeData ? kBytesBeforeData - p : 0, n - 1);
        std::string run = text.substr(p + inTag, n - inTag);
        if (run.size() >= 2)
            run.pop_back();  // a combining mark may stand before the last letter
        if (run.size() > best.size())
            best = std::move(run);
        p += n;
    }
    if (!best.empty())
        addNeedle(std::move(best), query);
    else if (!needsEscapeInMarc8(text))
        m_passesAll = true;
}

void BlockPrefilter::addNeedle(std::string bytes, const SearchQuery& query)
{
    // A needle that holds another is found wherever that one is: the shorter
    // one alone says as much.
    const std::string wanted = comparable(bytes, query);
    for (const RecordMatcher& needle : m_needles) {
        if (wanted.find(comparable(needle.pattern(), query)) != std::string::npos)
            return;
    }
    std::erase_if(m_needles, [&](const RecordMatcher& needle) {
        return comparable(needle.pattern(), query).find(wanted) != std::string::npos;
    });
    m_needles.emplace_back(bytes, query.caseSensitive, query.delimiterMode, std::string());
}

void BlockPrefilter::markCandidates(const unsigned char* block, std::span<const RecordInBlock> records,
                                    std::vector<char>& candidate) const
{
    if (records.empty())
        return;
    if (m_passesAll) {
        std::fill(candidate.begin(), candidate.begin() + static_cast<std::ptrdiff_t>(records.size()), 1);
        return;
    }
    for (const RecordMatcher& needle : m_needles)
        markHits(block, records, candidate,
                 [&needle](const unsigned char* bytes, std::size_t n) { return needle.firstIn(bytes, n); });
    if (m_marc8Breaks)
        markHits(block, records, candidate, [](const unsigned char* bytes, std::size_t n) -> std::optional<std::size_t> {
            const std::size_t at = firstAsciiRunBreak(bytes, n);
            return at < n ? std::optional<std::size_t>(at) : std::nullopt;
        });
}

}  // namespace veltrane

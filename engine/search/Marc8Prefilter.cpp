// SPDX-License-Identifier: Apache-2.0
#include "search/Marc8Prefilter.h"
#include "common/CpuFeatures.h"

#include <string>

#include "charset/Utf8.h"
#include "iso2709/RecordLayout.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane {

namespace {

constexpr unsigned char kEscape = 0x1B;                // starts a MARC-8 escape sequence
constexpr unsigned char kLigatureSecondHalf = 0xEC;    // MARC-8 combining mark that decodes to nothing
constexpr unsigned char kDoubleTildeSecondHalf = 0xFB; // likewise

bool breaksAsciiRun(const unsigned char* bytes, std::size_t i)
{
    const unsigned char b = bytes[i];
    return b == kEscape
           || (i > 0 && bytes[i - 1] < 0x80 && (b == kLigatureSecondHalf || b == kDoubleTildeSecondHalf));
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

#if defined(__x86_64__)

/// The AVX2 form of the vector loop: from i (at least 1) on, 32 bytes at a
/// time; where it stopped when no break was found.
__attribute__((target("avx2"))) std::size_t breaksAvx2(const unsigned char* bytes, std::size_t i, std::size_t n,
                                                       std::size_t& found)
{
    const __m256i escape = _mm256_set1_epi8(static_cast<char>(kEscape));
    const __m256i ligature = _mm256_set1_epi8(static_cast<char>(kLigatureSecondHalf));
    const __m256i tilde = _mm256_set1_epi8(static_cast<char>(kDoubleTildeSecondHalf));
    for (; i + 32 <= n; i += 32) {
        const __m256i current = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i halves = _mm256_or_si256(_mm256_cmpeq_epi8(current, ligature), _mm256_cmpeq_epi8(current, tilde));
        const __m256i candidates = _mm256_or_si256(_mm256_cmpeq_epi8(current, escape), halves);
        if (_mm256_testz_si256(candidates, candidates))
            continue;  // the common case: no byte to look at twice
        const __m256i previous = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i - 1));
        const auto escapes = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(current, escape)));
        const auto afterAscii = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(previous));
        const std::uint32_t hits = escapes | (static_cast<std::uint32_t>(_mm256_movemask_epi8(halves)) & afterAscii);
        if (hits != 0) {
            found = i + static_cast<std::size_t>(__builtin_ctz(hits));
            return i;
        }
    }
    return i;
}
#endif

}  // namespace

std::size_t FirstAsciiRunBreak(const unsigned char* bytes, std::size_t n, std::size_t from)
{
    if (from >= n)
        return n;
    if (breaksAsciiRun(bytes, from))
        return from;
    std::size_t i = from + 1;
#if defined(__x86_64__)
    if (HasAvx2()) {
        std::size_t found = n;
        i = breaksAvx2(bytes, i, n, found);
        if (found < n)
            return found;
    }
#endif
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

Marc8Prefilter::Marc8Prefilter(std::string_view text, const SearchQuery& query)
{
    // The longest ASCII run, less what may stand in the tag and its last byte.
    std::string best;
    for (std::size_t p = 0; p < text.size();) {
        if (static_cast<unsigned char>(text[p]) >= 0x80) {
            ++p;
            continue;
        }
        std::size_t n = 0;
        while (p + n < text.size() && static_cast<unsigned char>(text[p + n]) < 0x80)
            ++n;
        const std::size_t inTag = std::min(p < kTagLength ? kTagLength - p : 0, n - 1);
        std::string run(text.substr(p + inTag, n - inTag));
        if (run.size() >= 2)
            run.pop_back();  // a combining mark may stand before the last letter
        if (run.size() > best.size())
            best = std::move(run);
        p += n;
    }
    if (!best.empty())
        m_needle.emplace(best, query.caseSensitive, query.delimiterMode, std::string());
    else if (!needsEscapeInMarc8(text))
        m_passesAll = true;
}

bool Marc8Prefilter::mayHold(const unsigned char* bytes, std::size_t n) const
{
    if (m_passesAll)
        return true;
    if (FirstAsciiRunBreak(bytes, n) < n)
        return true;
    return m_needle && m_needle->occursIn(bytes, n);
}

}  // namespace veltrane

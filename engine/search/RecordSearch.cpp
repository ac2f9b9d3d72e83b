// SPDX-License-Identifier: Apache-2.0
#include "search/RecordSearch.h"
#include "common/CpuFeatures.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane {

namespace {

constexpr unsigned char foldLower(unsigned char b)
{
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

struct CandidateBytes {
    unsigned char first, firstOtherCase, last, lastOtherCase;
};

/// Calls verify for each position at + bit whose bit is set in candidates;
/// true as soon as verify accepts one.
template <typename Verify>
inline bool visitCandidates(std::uint32_t candidates, std::size_t at, Verify& verify)
{
    for (; candidates != 0; candidates &= candidates - 1) {
        if (verify(at + static_cast<std::size_t>(__builtin_ctz(candidates))))
            return true;
    }
    return false;
}

/// The candidates among the positions from `done` on of a last block of
/// `width` positions that starts at `at` (before `done`, so that it ends
/// exactly at the last position and reads nothing beyond it).
constexpr std::uint32_t notYetVisited(std::uint32_t candidates, std::size_t at, std::size_t done)
{
    return candidates & ~((std::uint32_t{1} << (done - at)) - 1);
}

#if defined(__x86_64__)

/// Candidate bits of the 32 positions from i on (see scanCandidates).
__attribute__((target("avx2"), always_inline)) inline std::uint32_t candidatesAvx2(
    const unsigned char* bytes, std::size_t i, std::size_t tailOffset, CandidateBytes wanted)
{
    const __m256i first = _mm256_set1_epi8(static_cast<char>(wanted.first));
    const __m256i firstOtherCase = _mm256_set1_epi8(static_cast<char>(wanted.firstOtherCase));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(wanted.last));
    const __m256i lastOtherCase = _mm256_set1_epi8(static_cast<char>(wanted.lastOtherCase));
    const __m256i heads = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    const __m256i tails = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + tailOffset));
    const __m256i headsAgree =
        _mm256_or_si256(_mm256_cmpeq_epi8(heads, first), _mm256_cmpeq_epi8(heads, firstOtherCase));
    const __m256i tailsAgree =
        _mm256_or_si256(_mm256_cmpeq_epi8(tails, last), _mm256_cmpeq_epi8(tails, lastOtherCase));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(headsAgree, tailsAgree)));
}

/// The 32-position form of scanCandidates, for count >= 32.
template <typename Verify>
__attribute__((target("avx2"))) bool scanCandidatesAvx2(const unsigned char* bytes, std::size_t count,
                                                        std::size_t tailOffset, CandidateBytes wanted,
                                                        Verify& verify)
{
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        if (visitCandidates(candidatesAvx2(bytes, i, tailOffset, wanted), i, verify))
            return true;
    }
    const std::size_t lastBlock = count - 32;
    return i < count
           && visitCandidates(notYetVisited(candidatesAvx2(bytes, lastBlock, tailOffset, wanted), lastBlock, i),
                              lastBlock, verify);
}
#endif

/// Calls verify for the positions i < count whose byte i and byte
/// i + tailOffset may be the wanted ones, many at a time; true as soon as
/// verify accepts one. Positions with other bytes are skipped, so the answer is
/// that of calling verify for every position. Nothing beyond byte
/// count - 1 + tailOffset is read.
template <typename Verify>
bool scanCandidates(const unsigned char* bytes, std::size_t count, std::size_t tailOffset,
                    const CandidateBytes& wanted, Verify verify)
{
#if defined(__x86_64__)
    if (count >= 32 && HasAvx2())
        return scanCandidatesAvx2(bytes, count, tailOffset, wanted, verify);
#endif
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(wanted.first));
    const __m128i firstOtherCase = _mm_set1_epi8(static_cast<char>(wanted.firstOtherCase));
    const __m128i last = _mm_set1_epi8(static_cast<char>(wanted.last));
    const __m128i lastOtherCase = _mm_set1_epi8(static_cast<char>(wanted.lastOtherCase));
    auto candidatesAt = [&](std::size_t at) {
        const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + tailOffset));
        const __m128i headsAgree = _mm_or_si128(_mm_cmpeq_epi8(heads, first), _mm_cmpeq_epi8(heads, firstOtherCase));
        const __m128i tailsAgree = _mm_or_si128(_mm_cmpeq_epi8(tails, last), _mm_cmpeq_epi8(tails, lastOtherCase));
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_and_si128(headsAgree, tailsAgree)));
    };
    if (count >= 16) {
        for (; i + 16 <= count; i += 16) {
            if (visitCandidates(candidatesAt(i), i, verify))
                return true;
        }
        const std::size_t lastBlock = count - 16;
        return i < count && visitCandidates(notYetVisited(candidatesAt(lastBlock), lastBlock, i), lastBlock, verify);
    }
#endif
    for (; i < count; ++i) {
        const unsigned char b = bytes[i];
        if ((b == wanted.first || b == wanted.firstOtherCase) && verify(i))
            return true;
    }
    return false;
}

/// How often a byte turns up in catalogue records, roughly: blanks, vowels,
/// common consonants and digits a lot, rare letters and punctuation little.
/// Letters count by their upper case, as the pattern holds them folded.
int commonness(unsigned char b)
{
    constexpr std::string_view kByFrequency = " EATOINSRHLDCUMF0123456789PGWYBV.,-KXJQZ";
    const std::size_t rank = kByFrequency.find(static_cast<char>(FoldUpper(b)));
    if (rank != std::string_view::npos)
        return static_cast<int>(kByFrequency.size() - rank) + 2;
    // Bytes of Chinese text and delimiters are common; the rest are rare.
    return b >= 0x80 ? 20 : (b < 0x20 ? 30 : 1);
}

std::size_t wholeEntries(std::size_t length)
{
    return length > kLeaderLength ? (length - kLeaderLength) / kDirectoryEntryLength : 0;
}

}  // namespace

RecordMatcher::RecordMatcher(const SearchQuery& query)
    : RecordMatcher(std::string_view(query.pattern)
                        .substr(0, std::min(::strnlen(query.pattern.c_str(), query.pattern.size()), kMaxSearchTextLength)),
                    query.caseSensitive, query.delimiterMode, query.tag)
{
}

RecordMatcher::RecordMatcher(std::string_view pattern, bool caseSensitive, DelimiterMode delimiterMode, std::string tag)
    : m_given(pattern), m_pattern(pattern.begin(), pattern.end()), m_length(pattern.size()), m_caseSensitive(caseSensitive),
      m_tag(std::move(tag))
{
    const unsigned char subfieldDelimiter = SubfieldDelimiter(delimiterMode);
    // "$a" names subfield a in every delimiter variant; any other '$' is the
    // literal byte.
    for (std::size_t i = 0; i + 1 < m_length; ++i) {
        if (m_pattern[i] == '$' && IsAsciiLetterOrDigit(m_pattern[i + 1]))
            m_pattern[i] = subfieldDelimiter;
    }
    if (!m_caseSensitive) {
        for (std::size_t i = 0; i < m_length; ++i)
            m_pattern[i] = FoldUpper(m_pattern[i]);
    }
    if (m_length > 0) {
        const unsigned char first = m_pattern[0];
        const unsigned char firstOther = m_caseSensitive ? first : foldLower(first);
        m_firstByte = {first, firstOther, first, firstOther};
        // The prefilter compares two of the pattern's bytes at once: the two
        // that occur least in catalogue text let the fewest positions through.
        m_probe = {0, m_length - 1};
        for (std::size_t i = 0; i < m_length; ++i) {
            if (commonness(m_pattern[i]) < commonness(m_pattern[m_probe.first]))
                m_probe.first = i;
        }
        for (std::size_t i = 0; i < m_length; ++i) {
            if (i != m_probe.first
                && (m_probe.second == m_probe.first || commonness(m_pattern[i]) < commonness(m_pattern[m_probe.second])))
                m_probe.second = i;
        }
        if (m_probe.first > m_probe.second)
            std::swap(m_probe.first, m_probe.second);
        const unsigned char a = m_pattern[m_probe.first], b = m_pattern[m_probe.second];
        m_wholePattern = {a, m_caseSensitive ? a : foldLower(a), b, m_caseSensitive ? b : foldLower(b)};
    }
}

bool RecordMatcher::matchesAt(const unsigned char* bytes) const
{
    for (std::size_t t = 0; t < m_length; ++t) {
        if (fold(bytes[t]) != m_pattern[t])
            return false;
    }
    return true;
}

bool RecordMatcher::occursIn(const unsigned char* bytes, std::size_t n) const
{
    return firstIn(bytes, n).has_value();
}

std::optional<std::size_t> RecordMatcher::firstIn(const unsigned char* bytes, std::size_t n) const
{
    if (m_length == 0 || m_length > n)
        return std::nullopt;
    // Position i of the scan is the alignment whose probe bytes stand at
    // i + first and i + second; nothing past byte n - 1 is read.
    const CandidateBytes w = m_wholePattern;
    std::size_t found = 0;
    const bool any = scanCandidates(bytes + m_probe.first, n - m_length + 1, m_probe.second - m_probe.first,
                                    {w.first, w.firstOtherCase, w.last, w.lastOtherCase},
                                    [this, bytes, &found](std::size_t i) {
                                        found = i;
                                        return matchesAt(bytes + i);
                                    });
    return any ? std::optional<std::size_t>(found) : std::nullopt;
}

bool RecordMatcher::mayStartInTags(const unsigned char* directory, std::size_t n) const
{
    const CandidateBytes f = m_firstByte;
    return scanCandidates(directory, n, 0, {f.first, f.firstOtherCase, f.last, f.lastOtherCase},
                          [this, directory](std::size_t i) {
                              const std::size_t j = i % kDirectoryEntryLength;
                              if (j >= kTagLength)
                                  return false;
                              for (std::size_t t = 0; t < m_length && j + t < kTagLength; ++t) {
                                  if (fold(directory[i + t]) != m_pattern[t])
                                      return false;
                              }
                              return true;
                          });
}

// A match that starts in the field bytes lies in the record's bytes from the
// base address on; one that starts in a tag agrees with that tag.
bool RecordMatcher::mayHold(const unsigned char* record, std::size_t length, std::uint32_t base) const
{
    if (base < length && occursIn(record + base, length - base))
        return true;
    const std::size_t entries = std::min(DirectoryEntryCount(base), wholeEntries(length));
    return mayStartInTags(record + kLeaderLength, entries * kDirectoryEntryLength);
}

std::optional<std::size_t> RecordMatcher::matchIn(const RecordFields& fields) const
{
    if (m_length == 0)
        return std::nullopt;
    const std::span<const unsigned char> bytes = fields.bytes();
    const std::span<const FieldSpan> entries = fields.fields();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FieldSpan& f = entries[i];
        if (!m_tag.empty() && fields.tag(i) != m_tag)
            continue;
        const std::size_t searchable = std::min(kTagLength + f.declaredLength - 1, f.length);
        if (occursIn(bytes.data() + f.offset, searchable))
            return i;
    }
    return std::nullopt;
}

}  // namespace veltrane

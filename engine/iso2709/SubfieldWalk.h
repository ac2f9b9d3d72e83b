// SPDX-License-Identifier: Apache-2.0
#pragma once

// How the bytes of a data field under the standard delimiters are taken
// apart: one pass finds its delimiters, its end at the first field
// terminator and any control character, and tells a sink the indicators and
// each subfield as it comes. SplitSubfields collects the subfields; the rule
// check looks at each one as it passes.

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/CpuFeatures.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

/// One subfield of a data field, by reference into the record's bytes.
struct IsoSubfield {
    /// The byte after the delimiter; empty for a delimiter with no code (one
    /// followed by another delimiter or ending the field).
    std::span<const unsigned char> code;
    std::span<const unsigned char> value;  ///< after the code, up to the next delimiter or the field's end
};

namespace subfieldwalk {

/// Tells a sink a field's parts as the delimiters of `bytes` are found in
/// order: first the indicators (what stands before the first delimiter),
/// then each subfield, from one delimiter to the next and the last to the
/// end. The sink has `indicators(span)` and `subfield(const IsoSubfield&)`.
template <typename Sink>
class Walker {
public:
    Walker(std::span<const unsigned char> bytes, Sink& sink) : m_bytes(bytes), m_sink(sink) {}

    void delimiterAt(std::size_t k)
    {
        if (m_previous == kNone)
            m_sink.indicators(m_bytes.first(k));
        else
            subfield(m_previous, k);
        m_previous = k;
    }

    /// The field ends at `end`.
    void finish(std::size_t end)
    {
        if (m_previous == kNone)
            m_sink.indicators(m_bytes.first(end));
        else
            subfield(m_previous, end);
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    void subfield(std::size_t k, std::size_t next)
    {
        if (next == k + 1)
            m_sink.subfield({m_bytes.subspan(k + 1, 0), m_bytes.subspan(k + 1, 0)});
        else
            m_sink.subfield({m_bytes.subspan(k + 1, 1), m_bytes.subspan(k + 2, next - k - 2)});
    }

    std::span<const unsigned char> m_bytes;
    Sink& m_sink;
    std::size_t m_previous = kNone;
};

// The delimiter (0x1F) is the last control character, the terminator (0x1E)
// the one before it: the bytes at most the delimiter are all three kinds.
static_assert(kStandardFieldTerminator + 1 == kStandardSubfieldDelimiter && kStandardSubfieldDelimiter == 0x1F);

#if defined(__x86_64__)

/// The bytes of a chunk that are control characters, terminators or
/// delimiters: all of them at most 0x1F.
[[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256i lowBytesAvx2(__m256i chunk)
{
    return _mm256_cmpeq_epi8(_mm256_min_epu8(chunk, _mm256_set1_epi8(kStandardSubfieldDelimiter)), chunk);
}

/// One chunk, at i, that holds low bytes (`low`): tells the walker its
/// delimiters before the field's end n and adds its controls to
/// `controls`; with StopAtTerminator, at a terminator sets n to where it
/// stands and returns true (without, a terminator is a control character).
template <bool StopAtTerminator, typename Sink>
[[gnu::always_inline]] __attribute__((target("avx2"))) inline bool chunkStopsAvx2(std::size_t i, __m256i chunk,
                                                                                 __m256i low, std::size_t& n,
                                                                                 std::uint32_t& controls,
                                                                                 Walker<Sink>& walker)
{
    // The bytes of the field in this chunk, up to its first terminator.
    std::uint32_t within = n - i >= 32 ? ~0u : (1u << (n - i)) - 1;
    std::uint32_t terminators = 0;
    if constexpr (StopAtTerminator) {
        terminators = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                          _mm256_cmpeq_epi8(chunk, _mm256_set1_epi8(kStandardFieldTerminator)))) &
                      within;
        if (terminators != 0)
            within &= (terminators & (0u - terminators)) - 1;
    }
    const auto delimiters = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(chunk, _mm256_set1_epi8(kStandardSubfieldDelimiter))));
    controls |= static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) & ~delimiters & ~terminators & within;
    for (std::uint32_t mask = delimiters & within; mask != 0; mask &= mask - 1)
        walker.delimiterAt(i + static_cast<std::size_t>(__builtin_ctz(mask)));
    if (terminators == 0)
        return false;
    n = i + static_cast<std::size_t>(__builtin_ctz(terminators));
    return true;
}

/// The field's bytes in whole chunks of 32 as far as `readable` bytes may be
/// read (a last chunk may reach past n), 64 bytes at a time where most hold
/// no low byte. Returns where it stopped: n once the field is done (n then
/// being where its terminator is, if it has one).
template <bool StopAtTerminator, typename Sink>
[[gnu::flatten]] __attribute__((target("avx2"))) std::size_t walkChunksAvx2(const unsigned char* bytes, std::size_t& n,
                                                                            std::size_t readable, std::uint32_t& controls,
                                                                            Walker<Sink>& walker)
{
    std::size_t i = 0;
    for (; i + 64 <= n && i + 64 <= readable; i += 64) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32));
        const __m256i lowFirst = lowBytesAvx2(first), lowSecond = lowBytesAvx2(second);
        const __m256i low = _mm256_or_si256(lowFirst, lowSecond);
        if (_mm256_testz_si256(low, low))
            continue;
        if (chunkStopsAvx2<StopAtTerminator>(i, first, lowFirst, n, controls, walker) ||
            chunkStopsAvx2<StopAtTerminator>(i + 32, second, lowSecond, n, controls, walker))
            return n;
    }
    for (; i < n && i + 32 <= readable; i += 32) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i low = lowBytesAvx2(chunk);
        if ((n - i < 32 || !_mm256_testz_si256(low, low)) && chunkStopsAvx2<StopAtTerminator>(i, chunk, low, n, controls, walker))
            return n;
    }
    return std::min(i, n);
}

#endif

/// The bytes from i to n a word, then a byte, at a time: as walkChunksAvx2.
template <bool StopAtTerminator, typename Sink>
void walkBytes(const unsigned char* bytes, std::size_t i, std::size_t& n, bool& controls, Walker<Sink>& walker)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
    for (;;) {
        // A word with no byte below 0x20 (none has its high bit set after
        // the subtraction and clear before) is passed whole.
        for (; i + 8 <= n; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, sizeof word);
            if (((word - kOnes * 0x20) & ~word & kHigh) != 0)
                break;
        }
        const std::size_t stop = i + 8 <= n ? i + 8 : n;
        if (i >= stop)
            return;
        for (; i < stop; ++i) {
            if (StopAtTerminator && bytes[i] == kStandardFieldTerminator) {
                n = i;
                return;
            }
            if (bytes[i] == kStandardSubfieldDelimiter)
                walker.delimiterAt(i);
            else if (bytes[i] < 0x20)
                controls = true;
        }
    }
}

}  // namespace subfieldwalk

/// Walks a data field's bytes under the standard delimiters: tells `sink`
/// the indicators, then each subfield in order. With StopAtTerminator the
/// field ends at its first field terminator, else at the end of `data`.
/// `readable` bytes from the first may be read (at least data.size()):
/// where whole chunks of 32 fit, it goes 32 bytes at a time. Returns whether
/// a control character other than the delimiter stands before the end;
/// `end` is where the field ends.
template <bool StopAtTerminator, typename Sink>
bool WalkStandardSubfields(std::span<const unsigned char> data, std::size_t readable, Sink& sink, std::size_t& end)
{
    subfieldwalk::Walker<Sink> walker(data, sink);
    std::size_t n = data.size();
    std::size_t i = 0;
    bool controls = false;
#if defined(__x86_64__)
    if (n != 0 && readable >= 32 && HasAvx2()) {
        std::uint32_t found = 0;
        i = subfieldwalk::walkChunksAvx2<StopAtTerminator>(data.data(), n, readable, found, walker);
        controls = found != 0;
    }
#endif
    if (i < n)
        subfieldwalk::walkBytes<StopAtTerminator>(data.data(), i, n, controls, walker);
    walker.finish(n);
    end = n;
    return controls;
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "charset/DoubleByteScan.h"
#include "common/CpuFeatures.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstring>

#include "charset/ByteWords.h"
#include "charset/CharsetInternal.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

/// Whether the two bytes at p are 0xA1-0xFE and a character, by the lead's
/// row's trail limit.
inline bool isHighRowPair(const DoubleByteTable& table, const unsigned char* p)
{
    return p[0] >= 0xA1 && p[0] <= 0xFE && p[1] >= 0xA1 && p[1] <= 0xFE && p[1] <= table.highTrailLimit[p[0]];
}

/// Passes pairs of bytes 0xA1-0xFE that are characters by their rows' trail
/// limits, from a character's start; where it stopped.
const unsigned char* skipHighRowPairsByPair(const DoubleByteTable& table, const unsigned char* p,
                                            const unsigned char* end)
{
    while (end - p >= 2 && isHighRowPair(table, p))
        p += 2;
    return p;
}

// ASCII mixed with pairs of the table's runs of rows (the text of most
// Chinese records) is passed 64 bytes at a time with bit masks, one bit per
// byte. Each run of high bytes is read in pairs from its first byte, as the
// converter reads it: the leads stand at the run's even places.

/// Bit i for byte i of a 64-byte block.
struct BlockMasks {
    std::uint64_t high = 0;          ///< 0x80 and above
    std::uint64_t highRow = 0;       ///< 0xA1-0xFE
    std::uint64_t inRuns = 0;        ///< in one of the table's two runs of rows
    std::uint64_t partialLead = 0;   ///< the lead of the table's partial row
    std::uint64_t partialTrail = 0;  ///< at most the partial row's last trail
    std::uint64_t escape = 0;
    std::uint64_t digit = 0;

    /// The masks of bytes `from` on, as bits 0 up; the bytes past the block
    /// read as zero bits: no character is passed there.
    [[nodiscard]] BlockMasks from(unsigned first) const
    {
        return {high >> first,        highRow >> first, inRuns >> first, partialLead >> first,
                partialTrail >> first, escape >> first,  digit >> first};
    }
};

/// The table's bounds as signed bytes after flipping bit 7, so that signed
/// compares order them as unsigned bytes.
struct MixedTextBounds {
    std::int8_t belowRun0, lastOfRun0, belowRun1, lastOfRun1, partialLead, partialLimit;

    explicit MixedTextBounds(const DoubleByteTable& table)
    {
        auto flipped = [](int byte) { return static_cast<std::int8_t>(static_cast<std::uint8_t>(byte) ^ 0x80); };
        // An empty run (first after last) takes no byte: nothing is above its
        // "below" and at most its "last" at once.
        belowRun0 = flipped(table.highRuns[0].first - 1);
        lastOfRun0 = flipped(table.highRuns[0].second);
        belowRun1 = flipped(table.highRuns[1].first - 1);
        lastOfRun1 = flipped(table.highRuns[1].second);
        partialLead = static_cast<std::int8_t>(table.partialLead);  // -1 (0xFF) is never in a row
        partialLimit = flipped(table.partialLimit);
    }
};

/// The table's runs and partial row as 16-bit lanes of a lead and its trail.
struct PairLaneBounds {
    std::int16_t belowRun0, aboveRun0, belowRun1, aboveRun1, partialLead, abovePartial;

    explicit PairLaneBounds(const DoubleByteTable& table)
        : belowRun0(static_cast<std::int16_t>(table.highRuns[0].first - 1)),
          aboveRun0(static_cast<std::int16_t>(table.highRuns[0].second + 1)),
          belowRun1(static_cast<std::int16_t>(table.highRuns[1].first - 1)),
          aboveRun1(static_cast<std::int16_t>(table.highRuns[1].second + 1)),
          partialLead(table.partialLead),
          abovePartial(static_cast<std::int16_t>(table.partialLimit + 1))
    {
    }
};

/// How many of the `length` bytes from the start of a block's masks are
/// characters passed, noting the facts of those bytes. A pair is passed when
/// both bytes are in a row and its lead in the runs (the partial row's lead
/// only before a trail within its limit). With `open`, the block goes on
/// past its 64 bytes, so a lead in the last place is left for the next block
/// (63 is passed). highBefore: the byte before the block is 0x80 or above.
inline std::size_t passableBytes(const BlockMasks& m, std::size_t length, bool open, bool highBefore,
                                 TextFacts& facts)
{
    constexpr std::uint64_t kEvenPlaces = 0x5555555555555555ull;
    constexpr std::uint64_t kLastPlace = std::uint64_t{1} << 63;
    const std::uint64_t high = m.high;
    facts.high |= high != 0;
    facts.escape |= m.escape != 0;
    facts.highBeforeDigit |= (m.digit & ((high << 1) | (highBefore ? 1 : 0))) != 0;
    const std::uint64_t runStarts = high & ~(high << 1);
    // Adding a run's start bit clears the whole run: what stays set are the
    // runs that start at odd places.
    const std::uint64_t oddRuns = (high + (runStarts & kEvenPlaces)) & high;
    const std::uint64_t leads = (high & ~oddRuns & kEvenPlaces) | (oddRuns & ~kEvenPlaces);
    const std::uint64_t goodLeads = m.inRuns & ~(m.partialLead & ~(m.partialTrail >> 1));
    std::uint64_t failing = leads & ~(m.highRow & (m.highRow >> 1) & goodLeads);
    if (open)
        failing &= ~kLastPlace;
    if (failing != 0)
        return std::min<std::size_t>(static_cast<std::size_t>(std::countr_zero(failing)), length);
    return open && (leads & kLastPlace) != 0 ? 63 : length;
}

/// Passes characters from p (a character's start) with a vector pass
/// `masks` that makes the BlockMasks of the 64 bytes from a place; where it
/// stopped. The last bytes of text of 64 bytes or more are passed with the
/// masks of its last 64 bytes.
template <typename Masks, typename AllPairs>
inline const unsigned char* skipMixedTextWith(const unsigned char* begin, const unsigned char* p, const unsigned char* end,
                                              TextFacts& facts, Masks masks, AllPairs allPairs)
{
    while (end - p >= 64) {
        // Long runs of Chinese text go by a cheaper test: 64 bytes that are
        // all pairs in the runs, tested a pair to a 16-bit lane.
        if (allPairs(p)) {
            facts.high = true;
            p += 64;
            continue;
        }
        const std::size_t passed = passableBytes(masks(p), 64, true, p != begin && p[-1] >= 0x80, facts);
        p += passed;
        if (passed < 63)
            return p;
    }
    if (p < end && end - begin >= 64) {
        const unsigned char* const last = end - 64;
        const auto length = static_cast<std::size_t>(end - p);
        p += passableBytes(masks(last).from(static_cast<unsigned>(p - last)), length, false,
                           p != begin && p[-1] >= 0x80, facts);
    }
    return p;
}

#if defined(__SSE2__)
/// BlockMasks bits of 16 bytes at p, from bit `shift` on.
inline void maskSse2(const unsigned char* p, const MixedTextBounds& b, int shift, BlockMasks& m)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i x = _mm_xor_si128(bytes, _mm_set1_epi8(static_cast<char>(0x80)));
    auto bits = [shift](__m128i v) { return static_cast<std::uint64_t>(_mm_movemask_epi8(v)) << shift; };
    auto atMost = [&x](std::int8_t last) { return _mm_cmpgt_epi8(x, _mm_set1_epi8(last)); };  // its opposite
    m.high |= bits(bytes);
    m.highRow |= bits(_mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmplt_epi8(x, _mm_set1_epi8(0x7F))));
    m.inRuns |= bits(_mm_or_si128(_mm_andnot_si128(atMost(b.lastOfRun0), _mm_cmpgt_epi8(x, _mm_set1_epi8(b.belowRun0))),
                                  _mm_andnot_si128(atMost(b.lastOfRun1), _mm_cmpgt_epi8(x, _mm_set1_epi8(b.belowRun1)))));
    m.partialLead |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(b.partialLead)));
    m.partialTrail |= ~bits(atMost(b.partialLimit)) & (std::uint64_t{0xFFFF} << shift);
    m.escape |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kEscapeByte)));
    m.digit |= bits(_mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1))));
}

__attribute__((flatten)) const unsigned char* skipMixedTextSse2(const DoubleByteTable& table, const unsigned char* begin, const unsigned char* p,
                                       const unsigned char* end, TextFacts& facts)
{
    const MixedTextBounds bounds(table);
    const PairLaneBounds lanes(table);
    auto pairs16 = [&lanes](const unsigned char* at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i x = _mm_xor_si128(bytes, _mm_set1_epi8(static_cast<char>(0x80)));
        const __m128i inRow = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmplt_epi8(x, _mm_set1_epi8(0x7F)));
        const __m128i leads = _mm_and_si128(bytes, _mm_set1_epi16(0x00FF));
        auto between = [&leads](std::int16_t below, std::int16_t above) {
            return _mm_and_si128(_mm_cmpgt_epi16(leads, _mm_set1_epi16(below)), _mm_cmplt_epi16(leads, _mm_set1_epi16(above)));
        };
        const __m128i partialBeyond =
            _mm_andnot_si128(_mm_cmplt_epi16(_mm_srli_epi16(bytes, 8), _mm_set1_epi16(lanes.abovePartial)),
                             _mm_cmpeq_epi16(leads, _mm_set1_epi16(lanes.partialLead)));
        const __m128i good = _mm_andnot_si128(
            partialBeyond, _mm_or_si128(between(lanes.belowRun0, lanes.aboveRun0), between(lanes.belowRun1, lanes.aboveRun1)));
        return _mm_movemask_epi8(_mm_and_si128(inRow, good)) == 0xFFFF;
    };
    return skipMixedTextWith(
        begin, p, end, facts,
        [&bounds](const unsigned char* at) {
            BlockMasks m;
            for (int quarter = 0; quarter < 4; ++quarter)
                maskSse2(at + 16 * quarter, bounds, 16 * quarter, m);
            return m;
        },
        [&pairs16](const unsigned char* at) {
            return pairs16(at) && pairs16(at + 16) && pairs16(at + 32) && pairs16(at + 48);
        });
}
#endif

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline void maskAvx2(const unsigned char* p, const MixedTextBounds& b, int shift,
                                                     BlockMasks& m)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i x = _mm256_xor_si256(bytes, _mm256_set1_epi8(static_cast<char>(0x80)));
    auto bits = [shift](__m256i v) __attribute__((target("avx2"))) {
        return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(v))) << shift;
    };
    auto above = [&x](std::int8_t bound) __attribute__((target("avx2"))) {
        return _mm256_cmpgt_epi8(x, _mm256_set1_epi8(bound));
    };
    m.high |= bits(bytes);
    m.highRow |= bits(_mm256_and_si256(above(0x20), _mm256_cmpgt_epi8(_mm256_set1_epi8(0x7F), x)));
    m.inRuns |= bits(_mm256_or_si256(_mm256_andnot_si256(above(b.lastOfRun0), above(b.belowRun0)),
                                     _mm256_andnot_si256(above(b.lastOfRun1), above(b.belowRun1))));
    m.partialLead |= bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(b.partialLead)));
    m.partialTrail |= ~bits(above(b.partialLimit)) & (std::uint64_t{0xFFFFFFFF} << shift);
    m.escape |= bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(kEscapeByte)));
    m.digit |= bits(_mm256_and_si256(_mm256_cmpgt_epi8(bytes, _mm256_set1_epi8('0' - 1)),
                                     _mm256_cmpgt_epi8(_mm256_set1_epi8('9' + 1), bytes)));
}

// Flattened, so the mask pass is inlined into the loop in this function's
// instruction set.
__attribute__((target("avx2"), flatten)) const unsigned char* skipMixedTextAvx2(const DoubleByteTable& table,
                                                                         const unsigned char* begin,
                                                                         const unsigned char* p,
                                                                         const unsigned char* end, TextFacts& facts)
{
    const MixedTextBounds bounds(table);
    const PairLaneBounds lanes(table);
    const __m256i belowRun0 = _mm256_set1_epi16(lanes.belowRun0), aboveRun0 = _mm256_set1_epi16(lanes.aboveRun0);
    const __m256i belowRun1 = _mm256_set1_epi16(lanes.belowRun1), aboveRun1 = _mm256_set1_epi16(lanes.aboveRun1);
    const __m256i partialLead = _mm256_set1_epi16(lanes.partialLead);
    const __m256i abovePartial = _mm256_set1_epi16(lanes.abovePartial);
    auto pairs32 = [&](const unsigned char* at) __attribute__((target("avx2"))) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i x = _mm256_xor_si256(bytes, _mm256_set1_epi8(static_cast<char>(0x80)));
        const __m256i inRow =
            _mm256_and_si256(_mm256_cmpgt_epi8(x, _mm256_set1_epi8(0x20)), _mm256_cmpgt_epi8(_mm256_set1_epi8(0x7F), x));
        const __m256i leads = _mm256_and_si256(bytes, _mm256_set1_epi16(0x00FF));
        const __m256i inRun0 = _mm256_and_si256(_mm256_cmpgt_epi16(leads, belowRun0), _mm256_cmpgt_epi16(aboveRun0, leads));
        const __m256i inRun1 = _mm256_and_si256(_mm256_cmpgt_epi16(leads, belowRun1), _mm256_cmpgt_epi16(aboveRun1, leads));
        // The partial row's lead passes only before a trail within its limit.
        const __m256i partialBeyond = _mm256_andnot_si256(_mm256_cmpgt_epi16(abovePartial, _mm256_srli_epi16(bytes, 8)),
                                                          _mm256_cmpeq_epi16(leads, partialLead));
        const __m256i good = _mm256_andnot_si256(partialBeyond, _mm256_or_si256(inRun0, inRun1));
        return _mm256_movemask_epi8(_mm256_and_si256(inRow, good)) == -1;
    };
    return skipMixedTextWith(
        begin, p, end, facts,
        [&bounds](const unsigned char* at) __attribute__((target("avx2"))) {
            BlockMasks m;
            maskAvx2(at, bounds, 0, m);
            maskAvx2(at + 32, bounds, 32, m);
            return m;
        },
        [&pairs32](const unsigned char* at) __attribute__((target("avx2"))) { return pairs32(at) && pairs32(at + 32); });
}
#endif

/// The widest mixed-text pass the processor has, where ASCII bytes are
/// characters alone.
decltype(DoubleByteTable::skipMixedText) widestMixedTextPass(const DoubleByteTable& table)
{
    if (!table.asciiSingle)
        return nullptr;
#if defined(__x86_64__)
    if (HasAvx2())
        return skipMixedTextAvx2;
#endif
#if defined(__SSE2__)
    return skipMixedTextSse2;
#else
    return nullptr;
#endif
}

/// Passes ASCII from p on as skipAscii does, noting an ESC among it.
const unsigned char* skipAsciiNotingEscape(const unsigned char* p, const unsigned char* end, bool& escape)
{
    while (end - p >= 8) {
        const std::uint64_t word = LoadWord(p);
        if ((word & kHighBits) != 0)
            break;
        const std::uint64_t escapes = word ^ (kOnes * kEscapeByte);  // a zero byte where ESC was
        escape |= ((escapes - kOnes) & ~escapes & kHighBits) != 0;
        p += 8;
    }
    for (; p < end && *p < 0x80; ++p)
        escape |= *p == kEscapeByte;
    return p;
}

}  // namespace

std::unique_ptr<DoubleByteTable> BuildDoubleByteTable(iconv_t cd)
{
    auto converts = [cd](const unsigned char* bytes, std::size_t n) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        std::array<char, 32> text;
        char* out = text.data();
        std::size_t outLeft = text.size();
        return iconv(cd, &in, &n, &out, &outLeft) != static_cast<std::size_t>(-1) && n == 0;
    };
    auto table = std::make_unique<DoubleByteTable>();
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        if (converts(&byte, 1))
            table->single[b >> 6] |= std::uint64_t{1} << (b & 63);
    }
    table->asciiSingle = table->single[0] == ~std::uint64_t{0} && table->single[1] == ~std::uint64_t{0};
    for (unsigned lead = 0; lead < 256; ++lead) {
        // A byte that is a character alone never starts a pair.
        if (table->isSingle(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0; trail < 256; ++trail) {
            const unsigned char pair[] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            const unsigned index = lead << 8 | trail;
            if (converts(pair, 2))
                table->pair[index >> 6] |= std::uint64_t{1} << (index & 63);
        }
    }
    for (unsigned lead = 0x80; lead < 256; ++lead) {
        bool full = true;
        for (unsigned trail = 0x40; trail < 0xFF && full; ++trail)
            full = trail == 0x7F || table->isPair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
        table->fullRow[lead] = full;
        unsigned trail = 0xA1;
        while (trail <= 0xFE && table->isPair(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)))
            ++trail;
        table->highTrailLimit[lead] = static_cast<unsigned char>(trail == 0xA1 ? 0 : trail - 1);
    }
    for (unsigned lead = 0xA1; lead <= 0xFE; ++lead) {
        const unsigned char limit = table->highTrailLimit[lead];
        if (limit != 0xFE && limit > table->partialLimit) {
            table->partialLead = static_cast<std::int16_t>(lead);
            table->partialLimit = limit;
        }
    }
    auto inRun = [&table](unsigned lead) {
        return table->highTrailLimit[lead] == 0xFE || static_cast<int>(lead) == table->partialLead;
    };
    for (unsigned lead = 0x80; lead < 256;) {
        if (!inRun(lead)) {
            ++lead;
            continue;
        }
        const unsigned first = lead;
        while (lead < 256 && inRun(lead))
            ++lead;
        const std::pair<std::int16_t, std::int16_t> run{static_cast<std::int16_t>(first),
                                                        static_cast<std::int16_t>(lead - 1)};
        auto length = [](const std::pair<std::int16_t, std::int16_t>& r) { return r.second - r.first; };
        if (length(run) > length(table->highRuns[0])) {
            table->highRuns[1] = table->highRuns[0];
            table->highRuns[0] = run;
        } else if (length(run) > length(table->highRuns[1])) {
            table->highRuns[1] = run;
        }
    }
    table->skipMixedText = widestMixedTextPass(*table);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return table;
}

std::size_t CountInvalidDoubleByte(const DoubleByteTable& table, std::span<const unsigned char> bytes, bool longerForms,
                                   TextScan* facts)
{
    std::size_t invalid = 0;
    const unsigned char* const begin = bytes.data();
    const unsigned char* p = begin;
    const unsigned char* const end = p + bytes.size();
    TextFacts seen;
    while (p < end) {
        if (table.skipMixedText != nullptr)
            p = table.skipMixedText(table, begin, p, end, seen);
        // Then pairs of the rows of Chinese text go by their rows' trail
        // limits, and other runs of pairs 16 and eight bytes at a time: all
        // high and none 0xFF, they are pairs, all characters when each lead's
        // row is full. None of them holds ESC or a digit.
        const unsigned char* const run = p;
        p = skipHighRowPairsByPair(table, p, end);
#if defined(__SSE2__)
        while (end - p >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(block) != 0xFFFF ||
                _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(static_cast<char>(0xFF)))) != 0 ||
                (table.fullRow[p[0]] & table.fullRow[p[2]] & table.fullRow[p[4]] & table.fullRow[p[6]] &
                 table.fullRow[p[8]] & table.fullRow[p[10]] & table.fullRow[p[12]] & table.fullRow[p[14]]) == 0)
                break;
            p += 16;
        }
#endif
        while (end - p >= 8) {
            const std::uint64_t word = LoadWord(p);
            const std::uint64_t notFf = ~word;  // a zero byte where 0xFF was
            if ((word & kHighBits) != kHighBits || ((notFf - kOnes) & ~notFf & kHighBits) != 0 ||
                (table.fullRow[p[0]] & table.fullRow[p[2]] & table.fullRow[p[4]] & table.fullRow[p[6]]) == 0)
                break;
            p += 8;
        }
        seen.high |= p != run;
        if (p >= end)
            break;
        const unsigned char b = *p;
        if (b < 0x80) {
            seen.highBeforeDigit |= p != begin && p[-1] >= 0x80 && IsAsciiDigit(b);
            if (table.asciiSingle) {
                p = skipAsciiNotingEscape(p + 1, end, seen.escape);
                seen.escape |= b == kEscapeByte;
                continue;
            }
            seen.escape |= b == kEscapeByte;
        } else {
            seen.high = true;
        }
        if (end - p >= 2 && table.isPair(b, p[1])) {
            p += 2;
            continue;
        }
        if (table.isSingle(b)) {
            ++p;
            continue;
        }
        if (longerForms)
            return kUnsettled;
        ++invalid;
        ++p;
    }
    if (facts != nullptr) {
        facts->high = seen.high;
        facts->escape = seen.escape;
        facts->highBeforeDigit = seen.highBeforeDigit;
    }
    return invalid;
}

}  // namespace veltrane

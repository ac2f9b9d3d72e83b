#include "charset/Charset.h"

#include <iconv.h>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <yaz/yaz-iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "iso2709/RecordLayout.h"
#include "charset/Utf8.h"

namespace veltrane {

namespace {

constexpr unsigned char kEscape = 0x1B;  // MARC-8 escape sequences start with ESC, 27
constexpr unsigned char kDelete = 0x7F;  // DEL, 127
constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kControlPictures = 0x2400;  // U+2400..U+241F picture the C0 controls
constexpr char32_t kDeletePicture = 0x2421;
constexpr char32_t kZeroWidthNonJoiner = 0x200C;
constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr std::size_t kLeaderCodingScheme = 9;   // leader/09: 'a' for UCS/Unicode in MARC 21
constexpr std::size_t kDateOfEntryLength = 8;  // 100 $a/0-7 (eight digits, or blanks)
constexpr std::size_t kCharsetPosition = 26;   // 100 $a/26-27 names the character set
constexpr int kMinMultibyteSequences = 4;

// A line holds 77 columns before it is wrapped; continuation lines start with
// five spaces, so they carry 72 further columns.
constexpr int kLineColumns = 77;
constexpr int kContinuationIndent = 5;
constexpr std::string_view kWrap = "\n     ";

// ---------------------------------------------------------------- Unicode

enum WidthClass : unsigned char { kMark, kFormat, kSpacingMark, kWide };
struct WidthRange {
    char32_t first;
    char32_t last;
    WidthClass kind;
};
constexpr WidthRange kWidthRanges[] = {
#include "charset/UnicodeWidth.generated.inc"
};

/// The class of a code point, nothing for an ordinary one-column character.
const WidthRange* widthRange(char32_t cp);

// Blocks of 64 code points of the BMP whose code points all share one class:
// text in one script looks its widths up here and never searches the ranges.
constexpr int kPlain = 4;  // an ordinary one-column character
constexpr unsigned char kMixedBlock = 0xFF;
constexpr std::size_t kBlockBits = 6;
constexpr auto kBlockClass = [] {
    std::array<unsigned char, (0x10000 >> kBlockBits)> table{};
    table.fill(kPlain);
    for (const WidthRange& r : kWidthRanges) {
        if (r.first > 0xFFFF)
            break;
        const char32_t last = std::min<char32_t>(r.last, 0xFFFF);
        for (char32_t block = r.first >> kBlockBits; block <= last >> kBlockBits; ++block) {
            const char32_t from = block << kBlockBits, to = from + (1u << kBlockBits) - 1;
            table[block] = r.first <= from && r.last >= to ? static_cast<unsigned char>(r.kind) : kMixedBlock;
        }
    }
    // The joiners extend clusters without a class of their own.
    table[kZeroWidthJoiner >> kBlockBits] = kMixedBlock;
    return table;
}();

// The mixed blocks of the BMP spelled out code point by code point: Latin-1,
// Greek, Cyrillic, Hebrew and kana all have a mixed block, and searching the
// ranges for each of their letters costs more than the rest of the layout.
constexpr std::size_t kMixedBlockCount = [] {
    std::size_t n = 0;
    for (unsigned char c : kBlockClass)
        n += c == kMixedBlock;
    return n;
}();
struct MixedBlocks {
    std::array<unsigned char, (0x10000 >> kBlockBits)> index{};  ///< of the block in classes, for mixed blocks
    std::array<std::array<unsigned char, (1u << kBlockBits)>, kMixedBlockCount> classes{};
};
constexpr MixedBlocks kMixedBlocks = [] {
    MixedBlocks m;
    std::size_t next = 0;
    for (std::size_t block = 0; block < kBlockClass.size(); ++block) {
        if (kBlockClass[block] != kMixedBlock)
            continue;
        m.index[block] = static_cast<unsigned char>(next);
        m.classes[next].fill(kPlain);
        ++next;
    }
    for (const WidthRange& r : kWidthRanges) {
        if (r.first > 0xFFFF)
            break;
        for (char32_t cp = r.first; cp <= std::min<char32_t>(r.last, 0xFFFF); ++cp) {
            if (kBlockClass[cp >> kBlockBits] != kMixedBlock) {
                cp |= (1u << kBlockBits) - 1;  // a whole block of one class: on to the next block
                continue;
            }
            m.classes[m.index[cp >> kBlockBits]][cp & ((1u << kBlockBits) - 1)] = static_cast<unsigned char>(r.kind);
        }
    }
    return m;
}();
static_assert(kMixedBlockCount <= 256, "mixed blocks are indexed by a byte");

/// WidthClass of a code point, or kPlain.
inline int widthClass(char32_t cp)
{
    if (cp < 0x10000) {
        const unsigned char c = kBlockClass[cp >> kBlockBits];
        if (c != kMixedBlock)
            return c;
        return kMixedBlocks.classes[kMixedBlocks.index[cp >> kBlockBits]][cp & ((1u << kBlockBits) - 1)];
    }
    const WidthRange* r = widthRange(cp);
    return r == nullptr ? kPlain : r->kind;
}

const WidthRange* widthRange(char32_t cp)
{
    if (cp < 0xAD)
        return nullptr;
    const auto* end = std::end(kWidthRanges);
    const auto* it = std::upper_bound(std::begin(kWidthRanges), end, cp,
                                      [](char32_t c, const WidthRange& r) { return c < r.first; });
    if (it == std::begin(kWidthRanges))
        return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

}  // namespace

bool IsClusterExtender(char32_t cp)
{
    if (cp < 0x300)
        return false;
    if (cp == kZeroWidthJoiner || cp == kZeroWidthNonJoiner)
        return true;
    const int c = widthClass(cp);
    return c == kMark || c == kSpacingMark;
}

namespace {

constexpr bool isPrintableAscii(char c) { return c >= 0x20 && c < 0x7F; }

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = kOnes * 0x80;

std::uint64_t loadWord(const unsigned char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

/// Bit 7 of each byte set where that byte of word is an ASCII digit; each
/// byte is tested on its own, with no carry between bytes.
constexpr std::uint64_t digitBits(std::uint64_t word)
{
    constexpr std::uint64_t kLow7 = kOnes * 0x7F;
    const std::uint64_t low = word & kLow7;
    return (kOnes * (127 + '9' + 1) - low) & ~word & (low + kOnes * (127 - ('0' - 1))) & kHighBits;
}

/// Where the ASCII bytes from p on end (at most end): records are mostly
/// ASCII, so stretches of it go a word at a time.
const unsigned char* skipAscii(const unsigned char* p, const unsigned char* end)
{
    while (end - p >= 8 && (loadWord(p) & kHighBits) == 0)
        p += 8;
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

bool allPrintableAscii(std::span<const unsigned char> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b >= 0x20 && b < kDelete; });
}

/// Length of the well-formed UTF-8 sequence at bytes[i], 0 when the bytes there
/// are not one (overlong forms, surrogates and code points above U+10FFFF are
/// not). `subpart` receives the length of the longest start of a well-formed
/// sequence (at least 1): the bytes one U+FFFD stands for.
std::size_t utf8SequenceAt(std::span<const unsigned char> bytes, std::size_t i, std::size_t& subpart,
                           char32_t& cp)
{
    const unsigned char b = bytes[i];
    subpart = 1;
    if (b < 0x80) {
        cp = b;
        return 1;
    }
    std::size_t length;
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
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size())
            return 0;
        const unsigned char c = bytes[i + k];
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return 0;
        cp = (cp << 6) | (c & 0x3F);
        subpart = k + 1;
    }
    return length;
}

// ---------------------------------------------------------------- detection

/// The bytes of $a of a field, up to the next delimiter or terminator but at
/// most `most` of them, or nothing. The standard delimiter 0x1F comes first;
/// "$a" (the printable variants) counts only in a field without any 0x1F 'a'.
std::optional<std::span<const unsigned char>> subfieldA(std::span<const unsigned char> data, std::size_t most)
{
    for (unsigned char delimiter : {kStandardSubfieldDelimiter, kSpecialSubfieldDelimiter}) {
        for (std::size_t i = 0; i + 1 < data.size(); ++i) {
            if (data[i] != delimiter || data[i + 1] != 'a')
                continue;
            std::size_t end = i + 2;
            const std::size_t stop = std::min(data.size(), end + most);
            if (delimiter == kStandardSubfieldDelimiter) {
                // Only 0x1E and 0x1F end it: (byte | 1) == 0x1F, a word at a time.
                static_assert(kStandardFieldTerminator == (kStandardSubfieldDelimiter & ~1));
                for (; end + 8 <= stop; end += 8) {
                    const std::uint64_t stops = (loadWord(data.data() + end) | kOnes) ^ (kOnes * kStandardSubfieldDelimiter);
                    if (((stops - kOnes) & ~stops & kHighBits) != 0)
                        break;
                }
            }
            while (end < stop && data[end] != delimiter && data[end] != kStandardFieldTerminator &&
                   data[end] != kStandardSubfieldDelimiter &&
                   !(delimiter == kSpecialSubfieldDelimiter && data[end] == kSpecialFieldTerminator))
                ++end;
            return data.subspan(i + 2, end - i - 2);
        }
    }
    return std::nullopt;
}

/// $a of a field 100 when it starts the UNIMARC way, or nothing; only as far
/// as the rules read it, up to its character set (bytes 26-27).
std::optional<std::span<const unsigned char>> unimarcSubfieldA(std::span<const unsigned char> data)
{
    const auto a = subfieldA(data, kCharsetPosition + 2);
    if (!a || a->size() <= kDateOfEntryLength)
        return std::nullopt;
    const bool dated = std::all_of(a->begin(), a->begin() + kDateOfEntryLength,
                                   [](unsigned char b) { return IsAsciiDigit(b) || b == ' '; });
    const unsigned char type = (*a)[kDateOfEntryLength];
    return dated && type >= 'a' && type <= 'z' ? a : std::nullopt;
}

/// The fields of a record where they stand in its bytes, read as RecordFields.
struct FieldViews {
    std::span<const FieldView> views;

    [[nodiscard]] std::size_t count() const { return views.size(); }
    [[nodiscard]] std::string_view tag(std::size_t i) const { return views[i].tag; }
    [[nodiscard]] std::span<const unsigned char> data(std::size_t i) const { return views[i].data; }
};

std::size_t fieldCount(const RecordFields& record) { return record.fields().size(); }
std::size_t fieldCount(const FieldViews& record) { return record.count(); }

/// $a of the first field 100 whose $a starts the UNIMARC way, or nothing.
template <typename Record>
std::optional<std::span<const unsigned char>> unimarcGeneralData(const Record& record)
{
    for (std::size_t i = 0; i < fieldCount(record); ++i) {
        if (record.tag(i) != "100")
            continue;
        if (const auto a = unimarcSubfieldA(record.data(i)))
            return a;
    }
    return std::nullopt;
}

/// Valid UTF-8 with at least kMinMultibyteSequences sequences of two bytes or
/// more: adds the sequences of bytes to `multibyte`, false when they are not
/// valid.
bool countUtf8Sequences(std::span<const unsigned char> bytes, int& multibyte)
{
    const unsigned char* const begin = bytes.data();
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(skipAscii(begin + i, begin + bytes.size()) - begin);
        if (i >= bytes.size())
            break;
        std::size_t subpart;
        char32_t cp;
        const std::size_t n = utf8SequenceAt(bytes, i, subpart, cp);
        if (n == 0)
            return false;
        multibyte += n > 1;
        i += n;
    }
    return true;
}

template <typename Record>
bool hasTag(const Record& record, std::string_view tag)
{
    for (std::size_t i = 0; i < fieldCount(record); ++i)
        if (record.tag(i) == tag)
            return true;
    return false;
}

constexpr bool isGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
constexpr bool isGb2312Byte(unsigned char b) { return b >= 0xA1 && b <= 0xFE; }
/// GB2312 rows of Chinese text: punctuation and full-width forms (0xA1-0xA3)
/// and the hanzi (0xB0-0xF7). Rows 0xA4-0xA9 (kana, Greek, Cyrillic, pinyin,
/// box drawing) are left out: MARC-8's special letters 0xA1-0xA9 (such as the
/// soft sign 0xA7) before a diacritic would read as such a pair.
constexpr bool isChineseRow(unsigned char lead) { return lead <= 0xA3 || (lead >= 0xB0 && lead <= 0xF7); }

/// Read as GBK pairs, fewer than half of the high bytes lie in pairs of two
/// GB2312-range bytes in the rows of Chinese text. MARC-8 puts a diacritic
/// (0xE0 and up) before an ASCII letter, which never makes such a pair.
/// Adds the high bytes of bytes and those of them in such pairs.
void countGb2312Pairs(std::span<const unsigned char> bytes, std::size_t& high, std::size_t& inPairs)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = bytes[i];
        if (b < 0x80)
            continue;
        ++high;
        if (!isGbkLead(b) || i + 1 >= bytes.size())
            continue;
        const unsigned char trail = bytes[i + 1];
        high += trail >= 0x80;
        if (isGb2312Byte(b) && isGb2312Byte(trail) && isChineseRow(b))
            inPairs += 2;
        ++i;
    }
}

/// A GB18030 four-byte sequence (lead, digit, lead, digit), read from the
/// start in GBK pairs so that a trail byte never starts one.
bool hasGb18030FourByte(std::span<const unsigned char> bytes)
{
    // Such a sequence needs a high byte followed by a digit; most records
    // have none, which a pass a word at a time finds out.
    const unsigned char* const data = bytes.data();
    const std::size_t n = bytes.size();
    bool candidate = false;
    std::size_t w = 0;
#if defined(__SSE2__)
    {
        unsigned carriedHigh = 0;  // the byte before the block was high
        const __m128i belowDigits = _mm_set1_epi8('0' - 1), aboveDigits = _mm_set1_epi8('9' + 1);
        for (; w + 16 <= n; w += 16) {
            // Signed compares: high bytes are negative, never digits.
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + w));
            const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(block));
            const unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpgt_epi8(block, belowDigits), _mm_cmplt_epi8(block, aboveDigits))));
            if ((((high << 1) | carriedHigh) & digits) != 0) {
                candidate = true;
                break;
            }
            carriedHigh = high >> 15;
        }
    }
#endif
    std::uint64_t carried = w > 0 && data[w - 1] >= 0x80 ? 0x80 : 0;  // bit 7 of byte 0: the byte before the word was high
    for (; !candidate && w + 8 <= n; w += 8) {
        const std::uint64_t word = loadWord(data + w);
        const std::uint64_t high = word & kHighBits;
        if ((((high << 8) | carried) & digitBits(word)) != 0) {
            candidate = true;
            break;
        }
        carried = high >> 56;
    }
    for (std::size_t k = std::max<std::size_t>(w, 1); !candidate && k < n; ++k)
        candidate = data[k - 1] >= 0x80 && IsAsciiDigit(data[k]);
    if (!candidate)
        return false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!isGbkLead(bytes[i]) || i + 1 >= bytes.size())
            continue;
        if (i + 3 < bytes.size() && IsAsciiDigit(bytes[i + 1]) && isGbkLead(bytes[i + 2]) &&
            IsAsciiDigit(bytes[i + 3]))
            return true;
        ++i;
    }
    return false;
}

// ---------------------------------------------------------------- rendering

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
        reserve(4 * line.size() + 2 * kWrap.size() + 8);
        char* out = m_out.data() + m_used;
        int col = 0;
        bool pendingWrap = false;
        std::size_t i = 0;
        auto wrap = [&] {
            std::memcpy(out, kWrap.data(), kWrap.size());
            out += kWrap.size();
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
                    wrap();
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
                wrap();
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
            const std::uint64_t word = loadWord(p);
            if (((word | (word + kOnes) | (word - kOnes * 0x20)) & kHighBits) != 0)
                break;
            p += 8;
        }
        while (p < end && isPrintableAscii(static_cast<char>(*p)))
            ++p;
        return static_cast<std::size_t>(p - from);
    }

    /// Columns of a code point as shown: controls show as their pictures.
    static int columns(char32_t cp)
    {
        if (cp < 0x20 || cp == kDelete || (cp >= 0x80 && cp < 0xA0))
            return 1;
        return DisplayWidth(cp);
    }

    /// Writes code points at out, controls as pictures: C0 controls as
    /// U+2400-241F, DEL as U+2421, C1 controls as U+FFFD. Returns the end.
    static char* putCluster(std::string_view text, char* out)
    {
        for (std::size_t i = 0; i < text.size();) {
            const auto b = static_cast<unsigned char>(text[i]);
            if (b >= 0x20 && b < kDelete) {
                *out++ = static_cast<char>(b);
                ++i;
                continue;
            }
            const std::size_t from = i;
            const char32_t cp = NextCodePoint(text, i);
            if (cp < 0x20)
                out = putUtf8(out, kControlPictures + cp);
            else if (cp == kDelete)
                out = putUtf8(out, kDeletePicture);
            else if (cp >= 0x80 && cp < 0xA0)
                out = putUtf8(out, kReplacement);
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
          m_out(out)
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
        int kind = kPlain;
        bool copy = false;
        bool valid = true;  ///< false: U+FFFD for an ill-formed part
    };

    [[nodiscard]] bool inStretch(unsigned char b) const
    {
        return b >= 0x20 && b < kDelete && b != m_terminator && b != m_stretchStop;
    }

    /// Where the stretch of printable ASCII (without terminators and
    /// delimiters) from p ends.
    [[nodiscard]] std::size_t stretchEnd(std::size_t p) const
    {
#if defined(__SSE2__)
        const __m128i control = _mm_set1_epi8(0x20), del = _mm_set1_epi8(static_cast<char>(kDelete));
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
        ensure(n + (n / 64 + 1) * kWrap.size() + 8);
        while (p < r) {
            if (m_pendingWrap)
                wrap();
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
            const std::uint64_t head = loadWord(from), tail = loadWord(from + n - 8);
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
        const unsigned char* const at = m_bytes + p;
        const std::size_t left = end - p;
        const unsigned b = at[0];
        char32_t cp = 0;
        std::size_t length = 0;
        std::size_t subpart = 1;
        if (b >= 0xC2 && b <= 0xDF) {
            if (left >= 2 && (at[1] & 0xC0) == 0x80) {
                cp = (b & 0x1F) << 6 | (at[1] & 0x3F);
                length = 2;
            }
        } else if (b >= 0xE0 && b <= 0xEF) {
            // The second byte's range keeps out overlong forms and surrogates.
            const unsigned low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
            if (left >= 2 && at[1] >= low && at[1] <= high) {
                subpart = 2;
                if (left >= 3 && (at[2] & 0xC0) == 0x80) {
                    cp = (b & 0x0F) << 12 | (at[1] & 0x3F) << 6 | (at[2] & 0x3F);
                    length = 3;
                }
            }
        } else if (b >= 0xF0 && b <= 0xF4) {
            const unsigned low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
            if (left >= 2 && at[1] >= low && at[1] <= high) {
                subpart = 2;
                if (left >= 3 && (at[2] & 0xC0) == 0x80) {
                    subpart = 3;
                    if (left >= 4 && (at[3] & 0xC0) == 0x80) {
                        cp = (b & 0x07) << 18 | (at[1] & 0x3F) << 12 | (at[2] & 0x3F) << 6 | (at[3] & 0x3F);
                        length = 4;
                    }
                }
            }
        }
        if (length == 0) {
            s.length = subpart;
            s.shown = kReplacement;
            s.valid = false;
            return s;
        }
        s.length = length;
        if (cp < 0xA0) {
            s.shown = kReplacement;  // a C1 control
        } else {
            s.shown = cp;
            s.kind = widthClass(cp);
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
        else if (b == kDelete)
            s.shown = kDeletePicture;
        else
            s.shown = b;
        return s;
    }

    static int columnsOf(const Shown& s)
    {
        switch (s.kind) {
        case kMark:
        case kFormat: return 0;
        case kWide: return 2;
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
        int kind = kPlain;
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
                kind = widthClass(cp);
        };
        auto wrap = [&] {
            std::memcpy(at, kWrap.data(), kWrap.size());
            at += kWrap.size();
            col = kContinuationIndent;
        };
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
                    kind = kPlain;
                } else {
                    decode(p);
                    if (length == 0)
                        break;
                }
            }
            // The character at p; a mark or joiner after it makes a cluster,
            // which goes the long way.
            const std::size_t here = length;
            const int width = kind == kWide ? 2 : kind == kMark || kind == kFormat ? 0 : 1;
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
            if (pendingWrap || (col + width > kLineColumns && col > kContinuationIndent))
                wrap();
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
               (kind == kMark || kind == kSpacingMark || cp == kZeroWidthJoiner || cp == kZeroWidthNonJoiner);
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
        ensure(4 * (end - p) + 2 * kWrap.size() + 8);
        if (m_pendingWrap || (m_col + width > kLineColumns && m_col > kContinuationIndent)) {
            wrap();
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

    void wrap()
    {
        std::memcpy(m_at, kWrap.data(), kWrap.size());
        m_at += kWrap.size();
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

// ---------------------------------------------------------------- names

std::string_view CharsetName(Charset charset)
{
    switch (charset) {
    case Charset::Gbk: return "gbk";
    case Charset::Gb18030: return "gb18030";
    case Charset::Utf8: return "utf-8";
    case Charset::Marc8: return "marc-8";
    }
    return "gbk";
}

std::string_view CharsetSettingName(CharsetSetting setting)
{
    switch (setting) {
    case CharsetSetting::Auto: return "auto";
    case CharsetSetting::Gbk: return CharsetName(Charset::Gbk);
    case CharsetSetting::Gb18030: return CharsetName(Charset::Gb18030);
    case CharsetSetting::Utf8: return CharsetName(Charset::Utf8);
    case CharsetSetting::Marc8: return CharsetName(Charset::Marc8);
    }
    return "auto";
}

std::optional<CharsetSetting> ParseCharsetSetting(std::string_view name)
{
    for (CharsetSetting s : {CharsetSetting::Auto, CharsetSetting::Gbk, CharsetSetting::Gb18030,
                             CharsetSetting::Utf8, CharsetSetting::Marc8}) {
        const std::string_view known = CharsetSettingName(s);
        if (std::equal(name.begin(), name.end(), known.begin(), known.end(), [](char a, char b) {
                return FoldUpper(static_cast<unsigned char>(a)) == FoldUpper(static_cast<unsigned char>(b));
            }))
            return s;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- detection

bool IsUnimarcShaped(const RecordFields& record)
{
    return unimarcGeneralData(record).has_value();
}

bool IsUnimarcGeneralData(std::span<const unsigned char> field100)
{
    return unimarcSubfieldA(field100).has_value();
}

namespace {

/// The automatic rules over a record whose tag and field bytes, in directory
/// order, are the pieces back to back. A piece must not end inside a
/// character nor a character start in one piece and end in the next, so the
/// scans add up piece by piece.
template <typename Record>
CharsetDecision detectCharset(unsigned char codingScheme, const Record& record,
                              std::span<const std::span<const unsigned char>> pieces,
                              const CharsetHints* hints = nullptr)
{
    const auto unimarc = unimarcGeneralData(record);
    if (!unimarc && codingScheme == 'a')
        return {Charset::Utf8, 1};
    if (unimarc && unimarc->size() >= kCharsetPosition + 2 && (*unimarc)[kCharsetPosition] == '5' &&
        (*unimarc)[kCharsetPosition + 1] == '0')
        return {Charset::Utf8, 2};
    int multibyte = 0;
    bool validUtf8 = true;
    for (std::size_t k = 0; k < pieces.size() && validUtf8; ++k)
        validUtf8 = countUtf8Sequences(pieces[k], multibyte);
    if (validUtf8 && multibyte >= kMinMultibyteSequences)
        return {Charset::Utf8, 3};
    const bool escape = hints != nullptr ? hints->escape : std::any_of(pieces.begin(), pieces.end(), [](const auto& piece) {
        return !piece.empty() && std::memchr(piece.data(), kEscape, piece.size()) != nullptr;
    });
    if (escape)
        return {Charset::Marc8, 4};
    if (codingScheme == ' ' && !unimarc && (hasTag(record, "245") || hasTag(record, "008"))) {
        std::size_t high = 0, inPairs = 0;
        for (const auto& piece : pieces)
            countGb2312Pairs(piece, high, inPairs);
        if (2 * inPairs < high)
            return {Charset::Marc8, 5};
    }
    // A four-byte form starts with a high byte followed by a digit.
    if (hints == nullptr || hints->highBeforeDigit)
        for (const auto& piece : pieces)
            if (hasGb18030FourByte(piece))
                return {Charset::Gb18030, 6};
    return {Charset::Gbk, 7};
}

}  // namespace

CharsetDecision DetectCharset(const RecordFields& record)
{
    const std::span<const unsigned char> bytes = record.bytes();
    return detectCharset(record.leader()[kLeaderCodingScheme], record, {&bytes, 1});
}

void JoinFieldBytes(std::span<const FieldView> fields, std::vector<std::span<const unsigned char>>& pieces)
{
    pieces.clear();
    for (const FieldView& f : fields) {
        if (!pieces.empty() && pieces.back().data() + pieces.back().size() == f.data.data())
            pieces.back() = {pieces.back().data(), pieces.back().size() + f.data.size()};
        else
            pieces.push_back(f.data);
    }
}

CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader, std::span<const FieldView> fields,
                              std::vector<std::span<const unsigned char>>& pieces)
{
    // Tags are ASCII letters and digits, so they change none of the scans:
    // only the field bytes are scanned.
    JoinFieldBytes(fields, pieces);
    return detectCharset(leader[kLeaderCodingScheme], FieldViews{fields}, pieces);
}

CharsetDecision DetectCharset(std::span<const unsigned char, kLeaderLength> leader, std::span<const FieldView> fields,
                              std::span<const std::span<const unsigned char>> joined, const CharsetHints& hints)
{
    return detectCharset(leader[kLeaderCodingScheme], FieldViews{fields}, joined, &hints);
}

CharsetDecision ChooseCharset(CharsetSetting setting, const RecordFields& record)
{
    switch (setting) {
    case CharsetSetting::Auto: return DetectCharset(record);
    case CharsetSetting::Gbk: return {Charset::Gbk, 0};
    case CharsetSetting::Gb18030: return {Charset::Gb18030, 0};
    case CharsetSetting::Utf8: return {Charset::Utf8, 0};
    case CharsetSetting::Marc8: return {Charset::Marc8, 0};
    }
    return DetectCharset(record);
}

// ---------------------------------------------------------------- codec

namespace {

/// What a pass over text saw besides its characters: what the automatic
/// rules look for.
struct TextFacts {
    bool high = false;             ///< a byte 0x80 or above
    bool escape = false;           ///< ESC
    bool highBeforeDigit = false;  ///< a high byte followed by an ASCII digit
};

/// The characters of a double-byte set as the converter reads them: the bytes
/// that are a character alone, and the lead and trail pairs that are one.
/// Asked of the converter itself, so a scan agrees with it byte for byte.
struct DoubleByteTable {
    std::array<std::uint64_t, 4> single{};
    std::array<std::uint64_t, 65536 / 64> pair{};
    bool asciiSingle = false;  ///< every byte below 0x80 is a character alone
    /// Per lead byte: 1 when it makes a character with every trail in 0x40-0x7E
    /// and 0x80-0xFE, as the rows of Chinese text do.
    std::array<unsigned char, 256> fullRow{};
    /// Per lead byte: the last trail up to which every trail from 0xA1 makes a
    /// character with it (0 when 0xA1 does not), for Chinese text in its
    /// 0xA1-0xFE pairs; a row with a few unassigned places at its end still
    /// passes most of its pairs.
    std::array<unsigned char, 256> highTrailLimit{};
    /// The lead whose row takes the most trails from 0xA1 but not all (GBK's
    /// row 0xD7, common hanzi, lacks only its last five), and the last such
    /// trail; -1 when there is none.
    std::int16_t partialLead = -1;
    std::int16_t partialLimit = -1;
    /// The two longest runs of lead bytes whose rows take every trail
    /// 0xA1-0xFE, or are the partial row, as first and last lead: a block of
    /// such pairs is tested with two range tests and the partial row's limit.
    /// In GBK they are the hanzi (0xB0-0xF7) and GBK's own rows below them.
    std::array<std::pair<std::int16_t, std::int16_t>, 2> highRuns{{{1, 0}, {1, 0}}};
    /// Passes ASCII mixed with such pairs 64 bytes at a time (see
    /// skipMixedText); nullptr where the processor has no vectors for it.
    const unsigned char* (*skipMixedText)(const struct DoubleByteTable&, const unsigned char* begin,
                                          const unsigned char* p, const unsigned char* end,
                                          struct TextFacts& facts) = nullptr;

    [[nodiscard]] bool isSingle(unsigned char b) const { return (single[b >> 6] >> (b & 63)) & 1; }
    [[nodiscard]] bool isPair(unsigned char lead, unsigned char trail) const
    {
        const unsigned index = unsigned{lead} << 8 | trail;
        return (pair[index >> 6] >> (index & 63)) & 1;
    }
};

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
    m.escape |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kEscape)));
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
    m.escape |= bits(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(kEscape)));
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
    if (__builtin_cpu_supports("avx2"))
        return skipMixedTextAvx2;
#endif
#if defined(__SSE2__)
    return skipMixedTextSse2;
#else
    return nullptr;
#endif
}

}  // namespace

struct TextCodec::Handles {
    inline static const iconv_t kClosed = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    std::unique_ptr<DoubleByteTable> gbkTable, gb18030Table;
    std::string scratch;  ///< text countInvalid() has decode() make and throws away

    /// The table of GBK or GB18030, made on first use; nullptr when the system
    /// lacks the set.
    [[nodiscard]] const DoubleByteTable* doubleByteTable(Charset charset);
    yaz_iconv_t marc8 = nullptr;
    bool marc8Tried = false;
    /// Per single-byte MARC-8 set (by its final byte): the bytes libyaz maps
    /// to nothing, found by asking libyaz once per set. It drops such bytes
    /// without a word; the display shows them as U+FFFD and counts them.
    std::array<std::optional<std::bitset<256>>, 128> marc8Unmapped;
    yaz_iconv_t marc8Probe = nullptr;  ///< a handle of its own, so probing never disturbs a run

    [[nodiscard]] std::size_t decodeMarc8(std::span<const unsigned char> bytes, std::string& out);
    [[nodiscard]] const std::bitset<256>& unmappedIn(unsigned char set);
    [[nodiscard]] bool eaccMapped(std::span<const unsigned char> triple);
    std::unordered_map<std::uint32_t, bool> eaccKnown;  ///< answers of the probe handle so far
    iconv_t fromGbk = kClosed, fromGb18030 = kClosed, toGbk = kClosed, toGb18030 = kClosed;

    ~Handles()
    {
        for (yaz_iconv_t h : {marc8, marc8Probe})
            if (h != nullptr)
                yaz_iconv_close(h);
        for (iconv_t h : {fromGbk, fromGb18030, toGbk, toGb18030})
            if (h != kClosed)
                iconv_close(h);
    }

    /// The handle, opened on first use; kClosed when the system lacks the set.
    static iconv_t open(iconv_t& handle, const char* to, const char* from)
    {
        if (handle == kClosed)
            handle = iconv_open(to, from);
        return handle;
    }
};

const DoubleByteTable* TextCodec::Handles::doubleByteTable(Charset charset)
{
    const bool gbk = charset == Charset::Gbk;
    std::unique_ptr<DoubleByteTable>& table = gbk ? gbkTable : gb18030Table;
    if (table)
        return table.get();
    const iconv_t cd = gbk ? open(fromGbk, "UTF-8", "GBK") : open(fromGb18030, "UTF-8", "GB18030");
    if (cd == kClosed)
        return nullptr;
    auto converts = [cd](const unsigned char* bytes, std::size_t n) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        std::array<char, 32> text;
        char* out = text.data();
        std::size_t outLeft = text.size();
        return iconv(cd, &in, &n, &out, &outLeft) != static_cast<std::size_t>(-1) && n == 0;
    };
    table = std::make_unique<DoubleByteTable>();
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
    return table.get();
}

TextCodec::TextCodec() : m_handles(std::make_unique<Handles>()) {}
TextCodec::~TextCodec() = default;

namespace {

std::size_t decodeUtf8(std::span<const unsigned char> bytes, std::string& out)
{
    std::size_t invalid = 0;
    const unsigned char* const begin = bytes.data();
    const unsigned char* const end = begin + bytes.size();
    std::size_t copied = 0;  // bytes before this are in out; valid text goes in whole stretches
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(skipAscii(begin + i, end) - begin);
        if (i >= bytes.size())
            break;
        std::size_t subpart;
        char32_t cp;
        const std::size_t n = utf8SequenceAt(bytes, i, subpart, cp);
        if (n == 0) {
            // One U+FFFD for each maximal start of a sequence, as Unicode
            // recommends; the count is of bytes.
            out.append(reinterpret_cast<const char*>(begin + copied), i - copied);
            AppendUtf8(out, kReplacement);
            invalid += subpart;
            i += subpart;
            copied = i;
        } else {
            i += n;
        }
    }
    out.append(reinterpret_cast<const char*>(begin + copied), bytes.size() - copied);
    return invalid;
}

/// decodeUtf8's count without the text.
std::size_t countInvalidUtf8(std::span<const unsigned char> bytes)
{
    std::size_t invalid = 0;
    const unsigned char* const begin = bytes.data();
    const unsigned char* const end = begin + bytes.size();
    for (std::size_t i = 0; i < bytes.size();) {
        i = static_cast<std::size_t>(skipAscii(begin + i, end) - begin);
        if (i >= bytes.size())
            break;
        std::size_t subpart;
        char32_t cp;
        const std::size_t n = utf8SequenceAt(bytes, i, subpart, cp);
        if (n == 0) {
            invalid += subpart;
            i += subpart;
        } else {
            i += n;
        }
    }
    return invalid;
}

constexpr std::size_t kUnsettled = static_cast<std::size_t>(-1);

/// Passes ASCII from p on as skipAscii does, noting an ESC among it.
const unsigned char* skipAsciiNotingEscape(const unsigned char* p, const unsigned char* end, bool& escape)
{
    while (end - p >= 8) {
        const std::uint64_t word = loadWord(p);
        if ((word & kHighBits) != 0)
            break;
        const std::uint64_t escapes = word ^ (kOnes * kEscape);  // a zero byte where ESC was
        escape |= ((escapes - kOnes) & ~escapes & kHighBits) != 0;
        p += 8;
    }
    for (; p < end && *p < 0x80; ++p)
        escape |= *p == kEscape;
    return p;
}

/// The count convertLenient gives for a double-byte set: a byte that starts
/// no character counts one and the converter goes on after it. kUnsettled when
/// `longerForms` (GB18030, whose four-byte forms the table does not hold) and
/// anything but a one- or two-byte character shows. With `facts`, also notes
/// what the automatic rules look for (its invalidGbk is left to the caller).
std::size_t countInvalidDoubleByte(const DoubleByteTable& table, std::span<const unsigned char> bytes,
                                   bool longerForms, TextScan* facts = nullptr)
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
            const std::uint64_t word = loadWord(p);
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
                seen.escape |= b == kEscape;
                continue;
            }
            seen.escape |= b == kEscape;
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

/// Every byte as U+FFFD, for a set whose converter could not be opened.
std::size_t replaceAll(std::span<const unsigned char> bytes, std::string& out)
{
    for (std::size_t i = 0; i < bytes.size(); ++i)
        AppendUtf8(out, kReplacement);
    return bytes.size();
}

/// Runs an iconv-like converter over bytes, appending to out. A byte it
/// refuses becomes U+FFFD and is counted; conversion goes on after it.
template <class Convert, class Reset>
std::size_t convertLenient(std::span<const unsigned char> bytes, std::string& out, Convert convert, Reset reset)
{
    std::size_t invalid = 0;
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    // No set makes more than a few bytes of a byte; a converter that keeps
    // asking for room without end is stopped.
    const std::size_t outLimit = out.size() + bytes.size() * 16 + 256;
    while (true) {
        const std::size_t used = out.size();
        const std::size_t room = inLeft * 4 + 16;
        out.resize(used + room);
        char* outPtr = out.data() + used;
        std::size_t outLeft = room;
        const bool failed = convert(&in, &inLeft, &outPtr, &outLeft);
        out.resize(out.size() - outLeft);
        if (!failed) {
            if (inLeft == 0)
                return invalid;
            continue;
        }
        if (errno == E2BIG && out.size() < outLimit)
            continue;
        if (errno == E2BIG) {
            AppendUtf8(out, kReplacement);
            return invalid + inLeft;
        }
        // EILSEQ, or EINVAL for a sequence cut off at the end.
        if (inLeft == 0)
            return invalid;
        ++in;
        --inLeft;
        ++invalid;
        AppendUtf8(out, kReplacement);
        reset();
    }
}


// MARC-8 escape sequences: ESC, then '$' for a multibyte set, then '(' or ','
// for G0 or ')' or '-' for G1, then '!' for ANSEL, then the final byte naming
// the set. Technique 1 escapes (ESC g, ESC b, ESC p, ESC s) have the final
// byte alone.
constexpr std::string_view kMarc8KnownFinals = "BsEgbp2NQ34S1";
constexpr unsigned char kMarc8Eacc = '1';  // the three-byte East Asian set
constexpr std::size_t kEaccCacheLimit = 1 << 16;
constexpr unsigned char kAnsel = 'E';
// ANSEL writes the double diacritics in two halves, one over each letter;
// Unicode has one combining character over both, so the second half maps to
// nothing, rightly.
constexpr unsigned char kAnselLigatureSecondHalf = 0xEC;
constexpr unsigned char kAnselDoubleTildeSecondHalf = 0xFB;

struct Marc8Escape {
    std::size_t length = 0;  ///< 0: the run ends inside it
    bool g1 = false;
    unsigned char final = 0;
};

Marc8Escape parseMarc8Escape(std::span<const unsigned char> bytes, std::size_t i)
{
    Marc8Escape e;
    std::size_t k = i + 1;
    if (k < bytes.size() && bytes[k] == '$')
        ++k;
    if (k < bytes.size() && (bytes[k] == '(' || bytes[k] == ','))
        ++k;
    else if (k < bytes.size() && (bytes[k] == ')' || bytes[k] == '-')) {
        e.g1 = true;
        ++k;
    }
    if (k < bytes.size() && bytes[k] == '!')
        ++k;
    if (k >= bytes.size())
        return e;
    e.final = bytes[k];
    e.length = k + 1 - i;
    return e;
}

/// Starts libyaz afresh with the sets g0 and g1 designated. After an error its
/// state is not to be trusted: it may still hold marks read for a base letter.
void restartMarc8(yaz_iconv_t cd, unsigned char g0, unsigned char g1)
{
    yaz_iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const unsigned char designate[] = {kEscape, '(', g0, kEscape, ')', g1};
    char* in = const_cast<char*>(reinterpret_cast<const char*>(designate));
    std::size_t inLeft = sizeof designate;
    std::array<char, 16> ignored;
    char* outPtr = ignored.data();
    std::size_t outLeft = ignored.size();
    yaz_iconv(cd, &in, &inLeft, &outPtr, &outLeft);
}

/// Runs libyaz over bytes without ending the run: its sets stay designated. A
/// byte it refuses becomes U+FFFD, and it goes on with g0 and g1 designated.
std::size_t feedMarc8(yaz_iconv_t cd, std::span<const unsigned char> bytes, std::string& out,
                      unsigned char g0 = 'B', unsigned char g1 = 'E')
{
    return convertLenient(
        bytes, out,
        [cd](char** in, std::size_t* inLeft, char** outPtr, std::size_t* outLeft) {
            if (yaz_iconv(cd, in, inLeft, outPtr, outLeft) != static_cast<std::size_t>(-1))
                return false;
            errno = yaz_iconv_error(cd) == YAZ_ICONV_E2BIG ? E2BIG : EILSEQ;
            return true;
        },
        [cd, g0, g1] { restartMarc8(cd, g0, g1); });
}

/// Ends a libyaz run: marks held for a base letter come out, and the next run
/// starts from the default sets (ASCII and ANSEL).
void endMarc8Run(yaz_iconv_t cd, std::string& out)
{
    std::array<char, 64> tail;
    char* tailPtr = tail.data();
    std::size_t tailLeft = tail.size();
    yaz_iconv(cd, nullptr, nullptr, &tailPtr, &tailLeft);
    out.append(tail.data(), tail.size() - tailLeft);
}

/// The bytes libyaz maps to nothing in the single-byte set `final`.
std::bitset<256> probeMarc8Set(yaz_iconv_t cd, unsigned char final)
{
    std::bitset<256> unmapped;
    for (int b = 0x21; b < 0x100; ++b) {
        if (b == 0x7F || b == 0x80)
            continue;
        // The byte in the set, then an ASCII space as a base for a mark.
        const unsigned char probe[] = {kEscape, static_cast<unsigned char>(b < 0x80 ? '(' : ')'), final,
                                       static_cast<unsigned char>(b), kEscape, '(', 'B', ' '};
        std::string text;
        const std::size_t invalid = feedMarc8(cd, probe, text);
        endMarc8Run(cd, text);
        unmapped[b] = invalid != 0 || text == " ";
    }
    unmapped[0x7F] = unmapped[0xFF] = true;
    unmapped[0x80] = true;
    if (final == kAnsel)
        unmapped[kAnselLigatureSecondHalf] = unmapped[kAnselDoubleTildeSecondHalf] = false;
    return unmapped;
}


}  // namespace

const std::bitset<256>& TextCodec::Handles::unmappedIn(unsigned char set)
{
    auto& table = marc8Unmapped[set & 0x7F];
    if (!table) {
        if (marc8Probe == nullptr)
            marc8Probe = yaz_iconv_open("UTF-8", "MARC8");
        table = marc8Probe != nullptr ? probeMarc8Set(marc8Probe, set) : std::bitset<256>();
    }
    return *table;
}

bool TextCodec::Handles::eaccMapped(std::span<const unsigned char> triple)
{
    const std::uint32_t key = triple[0] << 16 | triple[1] << 8 | triple[2];
    if (const auto it = eaccKnown.find(key); it != eaccKnown.end())
        return it->second;
    if (marc8Probe == nullptr)
        marc8Probe = yaz_iconv_open("UTF-8", "MARC8");
    bool mapped = false;
    if (marc8Probe != nullptr) {
        const unsigned char probe[] = {kEscape, '$', '1', triple[0], triple[1], triple[2]};
        std::string text;
        mapped = feedMarc8(marc8Probe, probe, text) == 0 && !text.empty();
        endMarc8Run(marc8Probe, text);
    }
    // Bounded: a file of random triples must not grow it without end.
    if (eaccKnown.size() >= kEaccCacheLimit)
        eaccKnown.clear();
    eaccKnown.emplace(key, mapped);
    return mapped;
}

/// MARC-8 through libyaz, which knows the sets and moves each combining mark
/// after its base letter. What it would drop or stall on is taken out first:
/// an escape to a set it does not know becomes one U+FFFD (the run goes on in
/// the sets before it), a byte a single-byte set does not map becomes U+FFFD,
/// and C0 controls pass as they are.
std::size_t TextCodec::Handles::decodeMarc8(std::span<const unsigned char> bytes, std::string& out)
{
    const yaz_iconv_t cd = marc8;
    std::size_t invalid = 0;
    unsigned char g0 = 'B', g1 = 'E';
    std::size_t fed = 0;  // bytes before this have gone to libyaz or been replaced
    // libyaz never sees an escape within a stretch of text: each goes alone,
    // so the sets in use are known wherever it may fail.
    auto feed = [&](std::size_t end) {
        invalid += feedMarc8(cd, bytes.subspan(fed, end - fed), out, g0, g1);
        fed = end;
    };
    auto replace = [&](std::size_t at, std::size_t length, bool picture) {
        feed(at);
        if (picture) {
            out += static_cast<char>(bytes[at]);
        } else {
            AppendUtf8(out, kReplacement);
            invalid += length;
        }
        fed = at + length;
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char b = bytes[i];
        if (b == kEscape) {
            const Marc8Escape e = parseMarc8Escape(bytes, i);
            if (e.length == 0) {
                replace(i, bytes.size() - i, false);  // cut off by the run's end
                break;
            }
            if (kMarc8KnownFinals.find(static_cast<char>(e.final)) == std::string_view::npos) {
                replace(i, e.length, false);
            } else {
                feed(i);
                (e.g1 ? g1 : g0) = e.final;
                feed(i + e.length);
            }
            i += e.length;
            continue;
        }
        if (b < 0x20) {
            replace(i, 1, true);
            ++i;
            continue;
        }
        const unsigned char set = b < 0x80 ? g0 : g1;
        if (set == kMarc8Eacc && b != ' ') {
            // Three bytes a character; libyaz drops a cut or unknown one. A
            // space is one by itself and ends a cut character.
            std::size_t n = 1;
            while (n < 3 && i + n < bytes.size() && bytes[i + n] > ' ')
                ++n;
            if (n < 3 || !eaccMapped(bytes.subspan(i, 3))) {
                replace(i, n, false);
            }
            i += n;
            continue;
        }
        if (b != ' ' && unmappedIn(set)[b])
            replace(i, 1, false);
        ++i;
    }
    feed(bytes.size());
    endMarc8Run(cd, out);
    return invalid;
}

std::size_t TextCodec::decode(Charset charset, std::span<const unsigned char> bytes, std::string& out)
{
    if (bytes.empty())
        return 0;
    // UTF-8 passes ASCII through as it is, controls included.
    if (charset == Charset::Utf8)
        return decodeUtf8(bytes, out);
    // Most runs are plain ASCII, the same in every set (every MARC-8 run starts
    // in ASCII and ANSEL).
    if (allPrintableAscii(bytes)) {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return 0;
    }
    Handles& h = *m_handles;
    switch (charset) {
    case Charset::Utf8:
        return decodeUtf8(bytes, out);
    case Charset::Gbk:
    case Charset::Gb18030: {
        const iconv_t cd = charset == Charset::Gbk ? Handles::open(h.fromGbk, "UTF-8", "GBK")
                                                   : Handles::open(h.fromGb18030, "UTF-8", "GB18030");
        if (cd == Handles::kClosed)
            return replaceAll(bytes, out);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return convertLenient(
            bytes, out,
            [cd](char** in, std::size_t* inLeft, char** outPtr, std::size_t* outLeft) {
                return iconv(cd, in, inLeft, outPtr, outLeft) == static_cast<std::size_t>(-1);
            },
            [cd] { iconv(cd, nullptr, nullptr, nullptr, nullptr); });
    }
    case Charset::Marc8:
        if (!h.marc8Tried) {
            h.marc8Tried = true;
            h.marc8 = yaz_iconv_open("UTF-8", "MARC8");
        }
        if (h.marc8 == nullptr)
            return replaceAll(bytes, out);
        return h.decodeMarc8(bytes, out);
    }
    return replaceAll(bytes, out);
}

std::size_t TextCodec::countInvalid(Charset charset, std::span<const unsigned char> bytes)
{
    Handles& h = *m_handles;
    switch (charset) {
    case Charset::Utf8:
        return countInvalidUtf8(bytes);
    case Charset::Gbk:
    case Charset::Gb18030: {
        const DoubleByteTable* table = h.doubleByteTable(charset);
        if (table == nullptr)
            return allPrintableAscii(bytes) ? 0 : bytes.size();
        const std::size_t invalid = countInvalidDoubleByte(*table, bytes, charset == Charset::Gb18030);
        if (invalid != kUnsettled)
            return invalid;
        break;
    }
    case Charset::Marc8:
        break;
    }
    h.scratch.clear();
    return decode(charset, bytes, h.scratch);
}

TextScan TextCodec::scanText(std::span<const unsigned char> bytes)
{
    TextScan scan;
    if (const DoubleByteTable* table = m_handles->doubleByteTable(Charset::Gbk)) {
        scan.invalidGbk = countInvalidDoubleByte(*table, bytes, false, &scan);
        return scan;
    }
    scan.invalidGbk = countInvalid(Charset::Gbk, bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        scan.high |= bytes[i] >= 0x80;
        scan.escape |= bytes[i] == kEscape;
        scan.highBeforeDigit |= i > 0 && bytes[i - 1] >= 0x80 && IsAsciiDigit(bytes[i]);
    }
    return scan;
}

std::optional<std::string> TextCodec::encode(Charset charset, std::string_view utf8)
{
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
    std::string checked;
    if (decodeUtf8(bytes, checked) != 0)
        return std::nullopt;
    if (charset == Charset::Utf8)
        return checked;
    if (charset == Charset::Marc8)
        return std::nullopt;
    Handles& h = *m_handles;
    const iconv_t cd = charset == Charset::Gbk ? Handles::open(h.toGbk, "GBK", "UTF-8")
                                               : Handles::open(h.toGb18030, "GB18030", "UTF-8");
    if (cd == Handles::kClosed)
        return std::nullopt;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string encoded(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = encoded.data();
    std::size_t outLeft = encoded.size();
    // Every character takes at most four bytes in either set, never more than
    // its UTF-8 form plus one, so one pass always has room.
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    encoded.resize(encoded.size() - outLeft);
    return encoded;
}

// ---------------------------------------------------------------- display

int DisplayWidth(char32_t codePoint)
{
    switch (widthClass(codePoint)) {
    case kMark:
    case kFormat: return 0;
    case kSpacingMark: return 1;
    case kWide: return 2;
    }
    return 1;
}

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
        return Utf8RecordLayout(record, fieldTerminator, subfieldDelimiter, out).render();
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

// SPDX-License-Identifier: Apache-2.0
#include "charset/Charset.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "charset/ByteWords.h"
#include "common/CpuFeatures.h"
#include "charset/CharsetInternal.h"
#include "charset/UnimarcShape.h"
#include "charset/Utf8.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

constexpr std::size_t kLeaderCodingScheme = 9;  // leader/09: 'a' for UCS/Unicode in MARC 21
constexpr int kMinMultibyteSequences = 4;

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
        if (const auto a = UnimarcGeneralData(record.data(i)))
            return a;
    }
    return std::nullopt;
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

/// Whether the bytes hold a high byte, a digit, a high byte and a digit in a
/// row anywhere: what a GB18030 four-byte sequence needs, wherever the pairs
/// start. Chinese text often has a high byte before a digit; this shape is rare.
#if defined(__x86_64__)
/// mayHoldFourByteForm 32 positions at a time while i + 35 <= n; leaves i
/// where it stopped.
__attribute__((target("avx2"))) bool mayHoldFourByteFormAvx2(const unsigned char* data, std::size_t n, std::size_t& i)
{
    // No lambdas here: they would not be compiled for AVX2.
    const __m256i belowDigits = _mm256_set1_epi8('0' - 1), aboveDigits = _mm256_set1_epi8('9' + 1);
    for (; i + 35 <= n; i += 32) {
        const __m256i lead = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
        const __m256i firstDigit = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
        const __m256i secondLead = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 2));
        const __m256i secondDigit = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 3));
        const __m256i digits = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpgt_epi8(firstDigit, belowDigits), _mm256_cmpgt_epi8(aboveDigits, firstDigit)),
            _mm256_and_si256(_mm256_cmpgt_epi8(secondDigit, belowDigits), _mm256_cmpgt_epi8(aboveDigits, secondDigit)));
        if (_mm256_movemask_epi8(_mm256_and_si256(_mm256_and_si256(lead, secondLead), digits)) != 0)
            return true;
    }
    return false;
}
#endif

bool mayHoldFourByteForm(const unsigned char* data, std::size_t n)
{
    std::size_t i = 0;
#if defined(__x86_64__)
    if (HasAvx2() && mayHoldFourByteFormAvx2(data, n, i))
        return true;
#endif
#if defined(__SSE2__)
    const __m128i belowDigits = _mm_set1_epi8('0' - 1), aboveDigits = _mm_set1_epi8('9' + 1);
    const auto digits = [&](__m128i v) {
        // Signed compares: high bytes are negative, never digits.
        return _mm_and_si128(_mm_cmpgt_epi8(v, belowDigits), _mm_cmplt_epi8(v, aboveDigits));
    };
    for (; i + 19 <= n; i += 16) {  // positions i to i + 15, each with the three bytes after it
        const __m128i lead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i firstDigit = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i secondLead = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 2));
        const __m128i secondDigit = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 3));
        const __m128i form = _mm_and_si128(_mm_and_si128(lead, secondLead),
                                           _mm_and_si128(digits(firstDigit), digits(secondDigit)));
        if (_mm_movemask_epi8(form) != 0)
            return true;
    }
#endif
    for (; i + 3 < n; ++i)
        if (data[i] >= 0x80 && IsAsciiDigit(data[i + 1]) && data[i + 2] >= 0x80 && IsAsciiDigit(data[i + 3]))
            return true;
    return false;
}

/// A GB18030 four-byte sequence (lead, digit, lead, digit), read from the
/// start in GBK pairs so that a trail byte never starts one.
bool hasGb18030FourByte(std::span<const unsigned char> bytes)
{
    if (!mayHoldFourByteForm(bytes.data(), bytes.size()))
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

}  // namespace

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

bool IsUnimarcShaped(const RecordFields& record)
{
    return unimarcGeneralData(record).has_value();
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
        return {Charset::Utf8, CharsetRule::Marc21Utf8Leader};
    if (unimarc && unimarc->size() >= kUnimarcCharsetOffset + kUnimarcUtf8.size() &&
        std::equal(kUnimarcUtf8.begin(), kUnimarcUtf8.end(), unimarc->begin() + kUnimarcCharsetOffset))
        return {Charset::Utf8, CharsetRule::UnimarcUtf8};
    int multibyte = 0;
    bool validUtf8 = true;
    for (std::size_t k = 0; k < pieces.size() && validUtf8; ++k)
        validUtf8 = CountUtf8Multibyte(pieces[k], multibyte);
    if (validUtf8 && multibyte >= kMinMultibyteSequences)
        return {Charset::Utf8, CharsetRule::ValidUtf8};
    const bool escape = hints != nullptr ? hints->escape : std::any_of(pieces.begin(), pieces.end(), [](const auto& piece) {
        return !piece.empty() && std::memchr(piece.data(), kEscapeByte, piece.size()) != nullptr;
    });
    if (escape)
        return {Charset::Marc8, CharsetRule::Escape};
    if (codingScheme == ' ' && !unimarc && (hasTag(record, "245") || hasTag(record, "008"))) {
        std::size_t high = 0, inPairs = 0;
        for (const auto& piece : pieces)
            countGb2312Pairs(piece, high, inPairs);
        if (2 * inPairs < high)
            return {Charset::Marc8, CharsetRule::Marc8Diacritics};
    }
    // A four-byte form starts with a high byte followed by a digit.
    if (hints == nullptr || hints->highBeforeDigit)
        for (const auto& piece : pieces)
            if (hasGb18030FourByte(piece))
                return {Charset::Gb18030, CharsetRule::Gb18030FourByte};
    return {Charset::Gbk, CharsetRule::GbkOtherwise};
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

namespace {

/// The set a setting names, or `detect()` under the automatic one.
template <typename Detect>
CharsetDecision chooseCharset(CharsetSetting setting, Detect detect)
{
    switch (setting) {
    case CharsetSetting::Auto: return detect();
    case CharsetSetting::Gbk: return {Charset::Gbk, CharsetRule::None};
    case CharsetSetting::Gb18030: return {Charset::Gb18030, CharsetRule::None};
    case CharsetSetting::Utf8: return {Charset::Utf8, CharsetRule::None};
    case CharsetSetting::Marc8: return {Charset::Marc8, CharsetRule::None};
    }
    return detect();
}

}  // namespace

CharsetDecision ChooseCharset(CharsetSetting setting, const RecordFields& record)
{
    return chooseCharset(setting, [&] { return DetectCharset(record); });
}

CharsetDecision ChooseCharset(CharsetSetting setting, std::span<const unsigned char, kLeaderLength> leader,
                              std::span<const FieldView> fields, std::vector<std::span<const unsigned char>>& pieces)
{
    JoinFieldBytes(fields, pieces);
    return chooseCharset(setting, [&] { return detectCharset(leader[kLeaderCodingScheme], FieldViews{fields}, pieces); });
}

bool HoldsOnlyAscii(const RecordFields& record)
{
    return IsAsciiWithoutEscape(record.leader()) && IsAsciiWithoutEscape(record.bytes());
}

namespace {

/// Under the automatic setting a record of ASCII without ESC is told as
/// "ascii"; `onlyAscii` asks whether the record is one.
template <typename OnlyAscii>
ToldCharset tellCharset(CharsetSetting setting, const CharsetDecision& decision, OnlyAscii onlyAscii)
{
    if (setting == CharsetSetting::Auto && onlyAscii())
        return {"ascii", CharsetRule::None};
    return {CharsetName(decision.charset), decision.rule};
}

}  // namespace

ToldCharset TellCharset(CharsetSetting setting, const CharsetDecision& decision, const RecordFields& record)
{
    return tellCharset(setting, decision, [&] { return HoldsOnlyAscii(record); });
}

ToldCharset TellCharset(CharsetSetting setting, const CharsetDecision& decision,
                        std::span<const unsigned char, kLeaderLength> leader,
                        std::span<const std::span<const unsigned char>> joined)
{
    // The tags, ASCII letters and digits, change nothing.
    return tellCharset(setting, decision, [&] {
        return IsAsciiWithoutEscape(leader) &&
               std::all_of(joined.begin(), joined.end(), [](const auto& piece) { return IsAsciiWithoutEscape(piece); });
    });
}

}  // namespace veltrane

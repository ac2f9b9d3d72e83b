// SPDX-License-Identifier: Apache-2.0
#include "iso2709/Iso2709Reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "charset/UnimarcShape.h"
#include "common/CpuFeatures.h"

namespace veltrane {

namespace {

constexpr std::size_t kBaseAddressDigits = 5;
constexpr std::size_t kFieldLengthDigits = 4;
constexpr std::size_t kFieldStartDigits = 5;

/// Whether the length and start of a directory entry are all digits: records
/// have many entries, so the nine bytes go as a word and a byte.
bool entryDigits(const unsigned char* entry)
{
    static_assert(kFieldLengthDigits + kFieldStartDigits == 9 && kFieldStartOffsetInEntry == kFieldLengthOffsetInEntry + 4);
    constexpr std::uint64_t kNibbles = 0x0101010101010101ull * 0xF0;
    constexpr std::uint64_t kThrees = 0x0101010101010101ull * 0x30;
    std::uint64_t word;
    std::memcpy(&word, entry + kFieldLengthOffsetInEntry, sizeof word);
    // A digit is 0x3N with N below 10, so adding 6 leaves its high half 3;
    // no carry crosses into the next byte.
    return (word & kNibbles) == kThrees && ((word + 0x0606060606060606ull) & kNibbles) == kThrees &&
           IsAsciiDigit(entry[kFieldLengthOffsetInEntry + 8]);
}

/// The length and start of a directory entry whose nine digits entryDigits
/// has passed: the first eight go as a word, pairs then quads of digits
/// combined in its lanes.
struct EntryValues {
    std::size_t length, start;
};
EntryValues entryValues(const unsigned char* entry)
{
    std::uint64_t word;
    std::memcpy(&word, entry + kFieldLengthOffsetInEntry, sizeof word);
    word -= 0x3030303030303030ull;                                      // digits, first in the lowest byte
    word = (word * 10 + (word >> 8)) & 0x00FF00FF00FF00FFull;          // two-digit values
    word = (word * 100 + (word >> 16)) & 0x0000FFFF0000FFFFull;        // four-digit values
    return {static_cast<std::size_t>(word & 0xFFFF),
            static_cast<std::size_t>(word >> 32) * 10 + (entry[kFieldLengthOffsetInEntry + 8] - '0')};
}

std::string hexByte(unsigned char b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

// The leader's fixed values (ISO 2709): two indicators, a subfield code of
// two bytes (delimiter and code), and the entry map: four digits of field
// length, five of start, no implementation part, then MARC 21's '0' or
// UNIMARC's blank.
constexpr std::size_t kIndicatorCountOffset = 10;
constexpr std::size_t kSubfieldCodeLengthOffset = 11;
constexpr unsigned char kTwo = '2';
constexpr std::size_t kEntryMapOffset = 20;
constexpr std::string_view kEntryMap = "4500";
constexpr std::string_view kUnimarcEntryMap = "450 ";
constexpr std::size_t kIndicatorBytes = 2;

/// A leader byte that is no character: a control or a byte past ASCII.
constexpr bool notACharacter(unsigned char b) { return b < 0x20 || b >= 0x7F; }

/// Where the first subfield delimiter from `from` on stands in body
/// (body.size() when none), in a printable variant: a '$' is one only before
/// a letter or digit.
std::size_t nextDelimiter(std::span<const unsigned char> body, std::size_t from, DelimiterMode mode)
{
    const unsigned char delimiter = SubfieldDelimiter(mode);
    for (; from < body.size(); ++from)
        if (body[from] == delimiter && from + 1 < body.size() && IsAsciiLetterOrDigit(body[from + 1]))
            return from;
    return body.size();
}

#if defined(__x86_64__)

/// The pairs (i, i + 1) of holdsEmptyCode, 32 at a time while i + 32 <= stop;
/// leaves i where it stopped. False at the first delimiter with no code.
__attribute__((target("avx2"))) bool noEmptyCodeAvx2(const unsigned char* bytes, std::size_t stop,
                                                           unsigned char terminator, std::size_t& i)
{
    const __m256i d = _mm256_set1_epi8(static_cast<char>(kStandardSubfieldDelimiter));
    const __m256i t = _mm256_set1_epi8(static_cast<char>(terminator));
    for (; i + 32 <= stop; i += 32) {
        const __m256i current = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 1));
        const __m256i bad = _mm256_and_si256(_mm256_cmpeq_epi8(current, d),
                                             _mm256_or_si256(_mm256_cmpeq_epi8(next, d), _mm256_cmpeq_epi8(next, t)));
        if (!_mm256_testz_si256(bad, bad))
            return false;
    }
    return true;
}

#endif

/// Whether n bytes hold a subfield delimiter followed by another or by the
/// terminator: a subfield with no code, when the bytes are a record's fields.
bool holdsEmptyCode(const unsigned char* bytes, std::size_t n, unsigned char terminator)
{
    constexpr unsigned char delimiter = kStandardSubfieldDelimiter;
    std::size_t i = 0;
#if defined(__x86_64__)
    if (HasAvx2() && n > 32) {
        if (!noEmptyCodeAvx2(bytes, n - 1, terminator, i))  // pairs (i, i + 1) with i + 1 < n
            return true;
    }
#endif
    for (; i + 1 < n; ++i)
        if (bytes[i] == delimiter && (bytes[i + 1] == delimiter || bytes[i + 1] == terminator))
            return true;
    return false;
}

/// Whether a data field (terminator included) plainly starts with its two
/// indicators: two bytes that are neither delimiter nor terminator, then a
/// delimiter or the end.
bool plainIndicators(std::span<const unsigned char> data, unsigned char terminator)
{
    constexpr unsigned char delimiter = kStandardSubfieldDelimiter;
    const std::size_t n = data.size();
    return n >= kIndicatorBytes + 1 && data[0] != delimiter && data[0] != terminator && data[1] != delimiter &&
           data[1] != terminator && (n == kIndicatorBytes + 1 || data[kIndicatorBytes] == delimiter);
}

/// Whether a data field's bytes (terminator included) are plainly sound under
/// the standard delimiter: they end with the one terminator, two indicators
/// stand before the first delimiter, and every delimiter has a code. False
/// sends the field the long way, which tells what is wrong, if anything.
bool plainlySound(std::span<const unsigned char> data, unsigned char terminator)
{
    const std::size_t n = data.size();
    return n > kIndicatorBytes && data[n - 1] == terminator && plainIndicators(data, terminator) &&
           std::memchr(data.data(), terminator, n - 1) == nullptr && !holdsEmptyCode(data.data(), n, terminator);
}

/// Collects a field's subfields as they are walked, and its indicators.
struct SubfieldList {
    std::vector<IsoSubfield>& out;
    std::span<const unsigned char> found;  ///< the indicators

    void indicators(std::span<const unsigned char> bytes) { found = bytes; }
    void subfield(const IsoSubfield& s) { out.push_back(s); }
};

/// The subfield whose delimiter stands at k of body, up to the delimiter at
/// next (or the end): its code is the byte after the delimiter, if any.
void addSubfield(std::span<const unsigned char> body, std::size_t k, std::size_t next, std::vector<IsoSubfield>& out)
{
    if (next == k + 1)
        out.push_back({body.subspan(k + 1, 0), body.subspan(k + 1, 0)});
    else
        out.push_back({body.subspan(k + 1, 1), body.subspan(k + 2, next - k - 2)});
}

/// SplitSubfields in a printable variant, where a '$' is a delimiter only
/// before a letter or digit.
std::span<const unsigned char> splitAtPrintableDelimiters(std::span<const unsigned char> body, DelimiterMode mode,
                                                          std::vector<IsoSubfield>& out)
{
    std::size_t k = nextDelimiter(body, 0, mode);
    const std::span<const unsigned char> indicators = body.first(k);
    while (k < body.size()) {
        const std::size_t next = nextDelimiter(body, k + 1, mode);
        addSubfield(body, k, next, out);
        k = next;
    }
    return indicators;
}

bool printableDelimiters(DelimiterMode mode)
{
    return mode == dmSpecial1 || mode == dmSpecial2;
}

std::size_t emptyCodes(std::span<const IsoSubfield> subfields)
{
    return static_cast<std::size_t>(
        std::count_if(subfields.begin(), subfields.end(), [](const IsoSubfield& s) { return s.code.empty(); }));
}

}  // namespace

std::span<const unsigned char> SplitSubfields(std::span<const unsigned char> body, DelimiterMode mode,
                                              std::vector<IsoSubfield>& out)
{
    out.clear();
    if (printableDelimiters(mode))
        return splitAtPrintableDelimiters(body, mode, out);
    // Every delimiter byte is one; the terminator is data here.
    SubfieldList list{out, {}};
    std::size_t end = 0;
    (void)WalkStandardSubfields<false>(body, body.size(), list, end);
    return list.found;
}

std::span<const unsigned char> Iso2709Reader::body(std::size_t i) const
{
    const std::span<const unsigned char> data = m_fields[i].data;
    if (data.empty())
        return data;
    const void* end = std::memchr(data.data(), m_terminator, data.size());
    return end == nullptr ? data
                          : data.first(static_cast<std::size_t>(static_cast<const unsigned char*>(end) - data.data()));
}

IsoDataField Iso2709Reader::dataField(std::size_t i)
{
    bool controls = false;
    return dataField(i, controls);
}

IsoDataField Iso2709Reader::dataField(std::size_t i, bool& controls)
{
    m_subfields.clear();
    SubfieldList list{m_subfields, {}};
    controls = walkDataField(i, list);
    return {list.found, m_subfields};
}

bool Iso2709Reader::holdsControlsPrintably(std::span<const unsigned char> body)
{
    // The printable delimiter and terminator are no controls.
    return std::any_of(body.begin(), body.end(), [](unsigned char b) { return b < 0x20; });
}

bool Iso2709Reader::unimarcShaped() const
{
    if (m_unimarcShaped < 0)
        m_unimarcShaped = std::any_of(m_fields.begin(), m_fields.end(),
                                      [](const IsoField& f) { return f.tag == "100" && IsUnimarcGeneralData(f.data); });
    return m_unimarcShaped > 0;
}

bool Iso2709Reader::leaderWellFormed() const
{
    if (std::any_of(m_leader, m_leader + kLeaderLength, notACharacter) || m_leader[kIndicatorCountOffset] != kTwo ||
        m_leader[kSubfieldCodeLengthOffset] != kTwo)
        return false;
    const std::string_view map(reinterpret_cast<const char*>(m_leader) + kEntryMapOffset, kEntryMap.size());
    return map == kEntryMap || (map == kUnimarcEntryMap && unimarcShaped());
}

std::string PrintableBytes(std::span<const unsigned char> bytes)
{
    std::string text;
    for (unsigned char b : bytes)
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
    return text;
}

void Iso2709Reader::read(std::span<const unsigned char> bytes, std::uint32_t declaredLength,
                         const IsoReadOptions& options)
{
    m_bytes = bytes;
    m_mode = options.mode;
    m_terminator = FieldTerminator(options.mode);
    m_fields.clear();
    m_unimarcShaped = -1;
    m_problems.clear();
    m_quick = false;
    std::memset(m_leader, ' ', sizeof m_leader);
    if (!bytes.empty())  // no bytes may come as a null pointer, which memcpy may not take
        std::memcpy(m_leader, bytes.data(), std::min(bytes.size(), kLeaderLength));
    const std::uint32_t base =
        bytes.size() >= kLeaderLength ? ParseDigits(bytes.data() + kBaseAddressOffset, kBaseAddressDigits) : 0;
    m_listed = DirectoryEntryCount(base);
    if (options.problems && options.quickScan && readWellFormed(declaredLength)) {
        m_quick = true;
        return;
    }
    readEntries();
    if (options.problems)
        findProblems(declaredLength);
}

// The quick scan proves a record free of every structural problem in one pass
// over its directory and takes its fields as it goes; anything it does not
// expect sends the record the long way, which tells what is wrong.
bool Iso2709Reader::readWellFormed(std::uint32_t declaredLength)
{
    const std::uint32_t length = declaredLength;
    const unsigned char* r = m_bytes.data();
    if (m_bytes.size() < length || length <= kLeaderLength || !AllAsciiDigits(r, kRecordLengthDigits) ||
        r[length - 1] != kRecordTerminator || !AllAsciiDigits(r + kBaseAddressOffset, kBaseAddressDigits))
        return false;
    const std::uint32_t base = ParseDigits(r + kBaseAddressOffset, kBaseAddressDigits);
    if (base <= kLeaderLength || base > length || (base - kLeaderLength - 1) % kDirectoryEntryLength != 0 ||
        r[base - 1] != m_terminator)
        return false;
    const std::size_t entries = m_listed;
    const std::size_t dataEnd = length - 1;
    std::size_t previousEnd = 0, held = 0;
    m_fields.resize(entries);
    for (std::size_t i = 0; i < entries; ++i) {
        const unsigned char* entry = r + kLeaderLength + i * kDirectoryEntryLength;
        // Tags of letters and digits leave the charset scans as they are.
        if (!IsAsciiLetterOrDigit(entry[0]) || !IsAsciiLetterOrDigit(entry[1]) || !IsAsciiLetterOrDigit(entry[2]) ||
            !entryDigits(entry))
            return false;
        const auto [fieldLength, start] = entryValues(entry);
        const std::size_t begin = std::size_t{base} + start;
        const std::size_t end = begin + fieldLength;
        if (fieldLength == 0 || end > dataEnd || r[end - 1] != m_terminator || begin < previousEnd)
            return false;
        previousEnd = end;
        held += kTagLength + fieldLength;
        m_fields[i] = {{reinterpret_cast<const char*>(entry), kTagLength}, {r + begin, fieldLength}, fieldLength};
    }
    if (held > kFieldBufferSize || !leaderWellFormed())
        return false;
    // Under the standard delimiter one pass over the fields finds any
    // subfield with no code; each field's indicators are looked at alone.
    const bool noEmptyCode = m_mode == dmNormal && !holdsEmptyCode(r + base, dataEnd - base, m_terminator);
    for (std::size_t i = 0; i < entries; ++i) {
        if (IsControlTag(m_fields[i].tag) || (noEmptyCode && plainIndicators(m_fields[i].data, m_terminator)))
            continue;
        const IsoDataField field = dataField(i);
        if (field.indicators.size() != kIndicatorBytes || emptyCodes(field.subfields) > 0)
            return false;
    }
    return true;
}

void Iso2709Reader::readEntries()
{
    m_fields.clear();
    m_unimarcShaped = -1;
    const std::size_t length = m_bytes.size();
    if (length < kLeaderLength)
        return;
    const unsigned char* record = m_bytes.data();
    const std::uint32_t base = ParseDigits(record + kBaseAddressOffset, kBaseAddressDigits);
    for (std::size_t i = 0; i < m_listed; ++i) {
        const std::size_t position = kLeaderLength + i * kDirectoryEntryLength;
        if (position + kDirectoryEntryLength > length)
            break;
        const unsigned char* entry = record + position;
        const std::size_t fieldLength = ParseDigits(entry + kFieldLengthOffsetInEntry, kFieldLengthDigits);
        const std::size_t begin = std::size_t{base} + ParseDigits(entry + kFieldStartOffsetInEntry, kFieldStartDigits);
        std::span<const unsigned char> data;
        if (begin < length)
            data = {record + begin, std::min(fieldLength, length - begin)};
        m_fields.push_back({{reinterpret_cast<const char*>(entry), kTagLength}, data, fieldLength});
    }
}

void Iso2709Reader::add(std::size_t at, std::string_view code, std::string description)
{
    m_problems.push_back({at, code, std::move(description)});
}

void Iso2709Reader::findProblems(std::uint32_t declaredLength)
{
    const std::uint32_t length = declaredLength;
    const std::size_t available = m_bytes.size();
    if (available < kLeaderLength) {
        add(0, "truncated", "the file ends inside the leader (" + std::to_string(available) + " bytes)");
        return;
    }
    if (!AllAsciiDigits(m_bytes.data(), kRecordLengthDigits))
        add(0, "length-digits", "the record length '" + PrintableBytes(m_bytes.first(kRecordLengthDigits)) +
                                    "' is not five digits; taken as " + std::to_string(length));
    const bool whole = available >= length;
    if (!whole)
        add(0, "truncated", "the record runs past the end of the file: " + std::to_string(length) +
                                " bytes declared, " + std::to_string(available) + " in the file");
    // Fields end before the record terminator when it stands where the
    // length says; otherwise they may reach the declared end.
    std::size_t dataEnd = length;
    if (whole && length > 0) {
        if (m_bytes[length - 1] == kRecordTerminator) {
            dataEnd = length - 1;
        } else {
            const auto* first = std::find(m_bytes.data() + kLeaderLength, m_bytes.data() + length, kRecordTerminator);
            const std::size_t at = static_cast<std::size_t>(first - m_bytes.data());
            add(length - 1, "length-mismatch",
                "the record length is " + std::to_string(length) + " but its last byte is " +
                    hexByte(m_bytes[length - 1]) +
                    (at < length ? ", the record terminator is at byte " + std::to_string(at)
                                 : ", not the record terminator"));
        }
    }
    findLeaderProblems();
    const std::size_t readable = std::min<std::size_t>(available, length);
    const unsigned char* leader = m_bytes.data();
    const std::uint32_t base = ParseDigits(leader + kBaseAddressOffset, kBaseAddressDigits);
    if (!AllAsciiDigits(leader + kBaseAddressOffset, kBaseAddressDigits) || base <= kLeaderLength || base > length) {
        add(kBaseAddressOffset, "base-address",
            "the base address '" + PrintableBytes(m_bytes.subspan(kBaseAddressOffset, kBaseAddressDigits)) +
                "' lies outside the record of " + std::to_string(length) + " bytes");
        return;  // no entry can be placed
    }
    const std::size_t directoryLength = base - kLeaderLength - 1;
    // Where the directory really ends: the first entry that starts with the
    // field terminator.
    std::size_t end = kLeaderLength;
    while (end < readable && end < base && m_bytes[end] != m_terminator)
        end += kDirectoryEntryLength;
    if (directoryLength % kDirectoryEntryLength != 0) {
        add(kBaseAddressOffset, "directory-length",
            "the directory is " + std::to_string(directoryLength) + " bytes (base address " + std::to_string(base) +
                "), not a multiple of 12");
    } else if (base <= readable && m_bytes[base - 1] != m_terminator) {
        add(base - 1, "directory-end",
            "the directory ends with " + hexByte(m_bytes[base - 1]) + ", not the field terminator");
    } else if (end + 1 != base && end < readable) {
        add(kBaseAddressOffset, "base-address",
            "the base address is " + std::to_string(base) + " but the directory ends at byte " + std::to_string(end));
    }
    findEntryProblems(base, readable, dataEnd, length);
    findDataFieldProblems();
}

void Iso2709Reader::findLeaderProblems()
{
    std::string odd;
    std::size_t first = 0, count = 0;
    for (std::size_t i = 0; i < kLeaderLength; ++i) {
        if (!notACharacter(m_leader[i]))
            continue;
        if (count++ == 0)
            first = i;
        odd += (odd.empty() ? "" : ", ") + std::to_string(i) + " (" + hexByte(m_leader[i]) + ")";
    }
    if (count > 0)
        add(first, "leader-characters",
            (count == 1 ? "leader byte " + odd + " is" : "leader bytes " + odd + " are") +
                " not a character: a control or past ASCII");
    auto shown = [](unsigned char b) { return notACharacter(b) ? hexByte(b) : "'" + std::string(1, static_cast<char>(b)) + "'"; };
    if (m_leader[kIndicatorCountOffset] != kTwo)
        add(kIndicatorCountOffset, "indicator-count",
            "the indicator count (leader byte 10) is " + shown(m_leader[kIndicatorCountOffset]) + ", not 2");
    if (m_leader[kSubfieldCodeLengthOffset] != kTwo)
        add(kSubfieldCodeLengthOffset, "subfield-code-length",
            "the subfield code length (leader byte 11) is " + shown(m_leader[kSubfieldCodeLengthOffset]) + ", not 2");
    const std::string_view map(reinterpret_cast<const char*>(m_leader) + kEntryMapOffset, kEntryMap.size());
    const bool unimarc = map != kEntryMap && unimarcShaped();
    if (map != kEntryMap && !(unimarc && map == kUnimarcEntryMap))
        add(kEntryMapOffset, "entry-map",
            "the entry map (leader bytes 20-23) is '" +
                PrintableBytes({m_leader + kEntryMapOffset, kEntryMap.size()}) + "', not '4500'" +
                (unimarc ? " or, as UNIMARC writes it, '450 '" : ""));
}

void Iso2709Reader::findDataFieldProblems()
{
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const IsoField& f = m_fields[i];
        // Only whole fields: a cut one is told already.
        if (IsControlTag(f.tag) || f.data.empty() || f.data.size() != f.declaredLength ||
            (i < m_unsound.size() && m_unsound[i]))
            continue;
        if (m_mode == dmNormal && plainlySound(f.data, m_terminator))
            continue;
        const std::size_t at = static_cast<std::size_t>(f.data.data() - m_bytes.data());
        const auto named = [&] {
            return "field " + PrintableBytes({reinterpret_cast<const unsigned char*>(f.tag.data()), f.tag.size()}) +
                   " (entry " + std::to_string(i + 1) + ")";
        };
        const IsoDataField field = dataField(i);
        if (field.indicators.size() != kIndicatorBytes)
            add(at, "indicators",
                named() + " has " + std::to_string(field.indicators.size()) +
                    " bytes before its first subfield, not the two indicators");
        if (const std::size_t empty = emptyCodes(field.subfields); empty > 0)
            add(at, "empty-subfield",
                named() + " has " + (empty == 1 ? "a subfield delimiter" : std::to_string(empty) + " subfield delimiters") +
                    " with no code");
    }
}

void Iso2709Reader::findEntryProblems(std::uint32_t base, std::size_t available, std::size_t dataEnd,
                                      std::uint32_t length)
{
    const std::size_t entries = DirectoryEntryCount(base);
    std::vector<FieldRange>& spans = m_ranges;
    spans.clear();
    // A field whose entry is at fault is told as such; what its bytes then
    // hold says nothing more.
    m_unsound.assign(entries, false);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t position = kLeaderLength + i * kDirectoryEntryLength;
        if (position + kDirectoryEntryLength > available)
            break;
        const unsigned char* entry = m_bytes.data() + position;
        // Named only in a problem's description.
        auto tag = [entry] { return PrintableBytes({entry, kTagLength}); };
        if (!entryDigits(entry)) {
            add(position, "entry-digits",
                "directory entry " + std::to_string(i + 1) + " (tag " + tag() + ") reads '" +
                    PrintableBytes({entry + kTagLength, kFieldLengthDigits + kFieldStartDigits}) +
                    "' for its length and start");
            m_unsound[i] = true;
            continue;
        }
        const auto [fieldLength, start] = entryValues(entry);
        const std::size_t begin = std::size_t{base} + start;
        const std::size_t end = begin + fieldLength;
        if (end > dataEnd) {
            // In a record cut short by the end of the file only fields
            // beyond the declared length are outside.
            if (end > length || m_bytes.size() >= length)
                add(position, "field-outside",
                    "field " + tag() + " (entry " + std::to_string(i + 1) + ") spans bytes " + std::to_string(begin) +
                        " to " + std::to_string(end) + ", past the record's data ending at " +
                        std::to_string(dataEnd));
            m_unsound[i] = true;
            continue;
        }
        if (end > available)
            continue;  // beyond the end of the file: told as truncated
        if (fieldLength == 0 || m_bytes[end - 1] != m_terminator)
            add(fieldLength == 0 ? begin : end - 1, "field-terminator",
                "field " + tag() + " (entry " + std::to_string(i + 1) + ") does not end with the field terminator");
        spans.push_back({begin, end, i});
    }
    // Fields mostly lie in directory order; sorting those would change nothing.
    const bool inOrder = std::adjacent_find(spans.begin(), spans.end(), [](const FieldRange& a, const FieldRange& b) {
                             return a.begin >= b.begin;
                         }) == spans.end();
    if (!inOrder)
        std::sort(spans.begin(), spans.end(), [](const FieldRange& a, const FieldRange& b) { return a.begin < b.begin; });
    for (std::size_t k = 1; k < spans.size(); ++k)
        if (spans[k].begin < spans[k - 1].end) {
            m_unsound[spans[k].entry] = m_unsound[spans[k - 1].entry] = true;
            add(spans[k].begin, "field-overlap",
                "the field of entry " + std::to_string(spans[k].entry + 1) + " overlaps the field of entry " +
                    std::to_string(spans[k - 1].entry + 1));
        }
}

}  // namespace veltrane

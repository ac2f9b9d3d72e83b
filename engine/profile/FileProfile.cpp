// SPDX-License-Identifier: Apache-2.0
#include "profile/FileProfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "charset/CharsetInternal.h"
#include "iso2709/BatchWorkers.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

namespace {

constexpr std::size_t kLeaderPositions = kLeaderLength;
constexpr std::size_t kMarc21FixedDataLength = 40;    // 008
constexpr std::size_t kUnimarcGeneralDataLength = 36;  // 100 $a
constexpr std::size_t kNumericTags = 1000;
// Tags other than three digits each get a slot of their own up to this many;
// the rest share one, so that memory stays bounded whatever a file holds.
constexpr std::size_t kOtherTags = 4096;
constexpr std::string_view kOtherTagsName = "...";
constexpr std::size_t kYearValues = 10000;  // a year is four digits

bool isDigit(unsigned char b) { return b >= '0' && b <= '9'; }

/// The first run of four digits in bytes, as a year.
std::optional<int> firstFourDigits(std::span<const unsigned char> bytes)
{
    for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (isDigit(bytes[i]) && isDigit(bytes[i + 1]) && isDigit(bytes[i + 2]) && isDigit(bytes[i + 3]) &&
            (i + 4 == bytes.size() || !isDigit(bytes[i + 4])) && (i == 0 || !isDigit(bytes[i - 1])))
            return (bytes[i] - '0') * 1000 + (bytes[i + 1] - '0') * 100 + (bytes[i + 2] - '0') * 10 + (bytes[i + 3] - '0');
    }
    return std::nullopt;
}

/// The bytes of the first subfield `code` of a field's data (after the tag),
/// up to the next delimiter or the field terminator. The fields asked are
/// short: a plain loop finds it sooner than calls would.
std::optional<std::span<const unsigned char>> subfield(std::span<const unsigned char> data, unsigned char delimiter,
                                                       unsigned char code)
{
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] != delimiter || data[i + 1] != code)
            continue;
        std::size_t end = i + 2;
        while (end < data.size() && data[end] != delimiter && data[end] != kStandardFieldTerminator &&
               data[end] != kSpecialFieldTerminator)
            ++end;
        return data.subspan(i + 2, end - (i + 2));
    }
    return std::nullopt;
}

/// Bit 7 of each byte of word set where that byte is zero, each byte tested
/// on its own (no borrow crosses between bytes).
constexpr std::uint64_t zeroBytes(std::uint64_t word)
{
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    return ~(((word & kLow7) + kLow7) | word | kLow7);
}

/// Calls `counted(code)` with the byte after each standard subfield
/// delimiter of a field's data, but for a delimiter that is its last byte.
/// Nothing outside the data is read.
template <typename Counted>
void forEachStandardCode(std::span<const unsigned char> data, Counted counted)
{
    const unsigned char* const p = data.data();
    const std::size_t size = data.size();
    if (size < 2)
        return;
    const std::size_t last = size - 1;  // a delimiter here has no code
    // Calls counted for the delimiters a mask marks, bit k for byte base + k.
    const auto countMarked = [&](std::size_t base, unsigned mask) {
        for (; mask != 0; mask &= mask - 1)
            counted(p[base + static_cast<std::size_t>(__builtin_ctz(mask)) + 1]);
    };
    if (size < 16) {
        // Short fields (most of them) as two words that may overlap.
        constexpr std::uint64_t kDelimiters = 0x0101010101010101ull * kStandardSubfieldDelimiter;
        if (size < 8) {
            for (std::size_t i = 0; i < last; ++i)
                if (p[i] == kStandardSubfieldDelimiter)
                    counted(p[i + 1]);
            return;
        }
        std::uint64_t first, second;
        std::memcpy(&first, p, 8);
        std::memcpy(&second, p + size - 8, 8);
        const auto bytesOf = [](std::uint64_t marks) {
            unsigned mask = 0;
            for (; marks != 0; marks &= marks - 1)
                mask |= 1u << (__builtin_ctzll(marks) / 8);
            return mask;
        };
        const unsigned low = bytesOf(zeroBytes(first ^ kDelimiters)) & ((1u << std::min<std::size_t>(8, last)) - 1);
        const std::size_t secondBase = size - 8;
        // Bytes of the second word from 8 on, and before the last byte.
        const unsigned high = bytesOf(zeroBytes(second ^ kDelimiters)) & ~((1u << (8 - secondBase)) - 1) & 0x7Fu;
        countMarked(0, low);
        countMarked(secondBase, high);
        return;
    }
    std::size_t i = 0;
#if defined(__SSE2__)
    // Subfields are mostly short, looked through 16 bytes at a time; after 64
    // bytes without a delimiter the rest of a long one goes to memchr.
    const __m128i delimiter = _mm_set1_epi8(static_cast<char>(kStandardSubfieldDelimiter));
    const auto marks = [&](std::size_t at) {
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), delimiter)));
    };
    int quiet = 0;
    while (i + 16 <= last) {
        const unsigned found = marks(i);
        if (found == 0 && ++quiet == 4) {
            quiet = 0;
            const void* at = std::memchr(p + i + 16, kStandardSubfieldDelimiter, last - i - 16);
            if (at == nullptr)
                return;
            i = static_cast<std::size_t>(static_cast<const unsigned char*>(at) - p);
            continue;
        }
        if (found != 0)
            quiet = 0;
        countMarked(i, found);
        i += 16;
    }
    if (i < last) {
        // The 16 bytes that end the data, without those looked at already
        // and without the last byte.
        const std::size_t base = size - 16;
        countMarked(base, marks(base) & ~((1u << (i - base)) - 1) & 0x7FFFu);
    }
#else
    for (; i < last; ++i)
        if (p[i] == kStandardSubfieldDelimiter)
            counted(p[i + 1]);
#endif
}

/// Whether a tag is the three bytes of `name`.
bool tagIs(std::string_view tag, const char (&name)[4])
{
    return tag.size() == kTagLength && tag[0] == name[0] && tag[1] == name[1] && tag[2] == name[2];
}

/// A record's fields as the year rule reads them: those RecordFields holds,
/// or those a reader took where they lie.
std::size_t fieldCount(const RecordFields& record) { return record.fields().size(); }
std::string_view tagOf(const RecordFields& record, std::size_t i) { return record.tag(i); }
std::span<const unsigned char> dataOf(const RecordFields& record, std::size_t i) { return record.data(i); }
std::size_t fieldCount(std::span<const FieldView> record) { return record.size(); }
std::string_view tagOf(std::span<const FieldView> record, std::size_t i) { return record[i].tag; }
std::span<const unsigned char> dataOf(std::span<const FieldView> record, std::size_t i) { return record[i].data; }

template <typename Fields>
std::optional<std::size_t> firstField(const Fields& record, const char (&tag)[4])
{
    for (std::size_t i = 0; i < fieldCount(record); ++i)
        if (tagIs(tagOf(record, i), tag))
            return i;
    return std::nullopt;
}

/// Counts of each byte value at each position of a fixed-length piece of
/// data, as PositionCounts holds them once done. A position's row is a little
/// longer than its 256 values: rows 2048 bytes apart would put one value of
/// every other position 4 KiB apart, where the processor takes the load after
/// a store to one for a load of the other and waits.
class PositionTally {
public:
    void count(std::size_t positions, std::span<const unsigned char> bytes)
    {
        if (m_positions == 0) {
            m_positions = positions;
            m_counts.assign(positions * kRowLength, 0);
        }
        std::int64_t* const counts = m_counts.data();
        const std::size_t counted = std::min(m_positions, bytes.size());
        for (std::size_t p = 0; p < counted; ++p)
            ++counts[p * kRowLength + bytes[p]];
    }

    void add(const PositionTally& other)
    {
        if (other.m_positions == 0)
            return;
        if (m_positions == 0) {
            *this = other;
            return;
        }
        for (std::size_t i = 0; i < m_counts.size(); ++i)
            m_counts[i] += other.m_counts[i];
    }

    [[nodiscard]] PositionCounts counts() const
    {
        PositionCounts counts;
        counts.values.resize(m_positions);
        for (std::size_t p = 0; p < m_positions; ++p)
            std::copy_n(m_counts.begin() + static_cast<std::ptrdiff_t>(p * kRowLength), 256, counts.values[p].begin());
        return counts;
    }

private:
    static constexpr std::size_t kRowLength = 256 + 8;
    std::size_t m_positions = 0;  ///< 0 until the first count
    std::vector<std::int64_t> m_counts;
};

template <typename Fields>
std::optional<int> publicationYear(const Fields& record, unsigned char subfieldDelimiter, bool unimarc)
{
    if (unimarc) {
        if (const std::optional<std::size_t> f = firstField(record, "210"))
            if (const auto d = subfield(dataOf(record, *f), subfieldDelimiter, 'd'))
                if (const std::optional<int> year = firstFourDigits(*d))
                    return year;
        if (const std::optional<std::size_t> f = firstField(record, "100"))
            if (const auto a = subfield(dataOf(record, *f), subfieldDelimiter, 'a'); a && a->size() >= 13)
                if (std::all_of(a->begin() + 9, a->begin() + 13, isDigit))
                    return firstFourDigits(a->subspan(9, 4));
        return std::nullopt;
    }
    // 008/06, the type of date: b (no date, B.C.), n (unknown) and blanks or
    // fill characters give no year at 07-10.
    if (const std::optional<std::size_t> f = firstField(record, "008")) {
        const std::span<const unsigned char> data = dataOf(record, *f);
        if (data.size() >= 11 && std::string_view("cdeikmpqrstu").find(static_cast<char>(data[6])) != std::string_view::npos &&
            std::all_of(data.begin() + 7, data.begin() + 11, isDigit))
            return firstFourDigits(data.subspan(7, 4));
    }
    for (std::size_t i = 0; i < fieldCount(record); ++i) {
        const std::span<const unsigned char> data = dataOf(record, i);
        if (tagIs(tagOf(record, i), "264") && data.size() >= 2 && data[1] == '1')
            if (const auto c = subfield(data, subfieldDelimiter, 'c'))
                if (const std::optional<int> year = firstFourDigits(*c))
                    return year;
    }
    if (const std::optional<std::size_t> f = firstField(record, "260"))
        if (const auto c = subfield(dataOf(record, *f), subfieldDelimiter, 'c'))
            return firstFourDigits(*c);
    return std::nullopt;
}

}  // namespace

std::optional<int> PublicationYear(const RecordFields& record, unsigned char subfieldDelimiter)
{
    return publicationYear(record, subfieldDelimiter, IsUnimarcShaped(record));
}

/// Counters kept while records come in, by slot: a tag of three digits is its
/// own number, any other tag a slot given it on first sight.
struct ProfileBuilder::Tallies {
    struct Counter {
        std::int64_t records = 0, occurrences = 0;
        std::int64_t lastRecord = -1;  ///< the record last counted in records
        void count(std::int64_t record)
        {
            ++occurrences;
            if (lastRecord != record) {
                lastRecord = record;
                ++records;
            }
        }
    };
    struct TagSlot {
        Counter count;
        std::size_t shortest = SIZE_MAX, longest = 0;
        std::unique_ptr<std::array<Counter, 256>> subfields;
        std::unique_ptr<std::array<std::array<std::int64_t, 256>, 2>> indicators;
    };

    DelimiterMode mode;
    CharsetSetting setting;
    Iso2709Reader reader;
    RecordFields fields;
    std::vector<std::int64_t> sizes = std::vector<std::int64_t>(kRecordBufferSize + 1);
    std::int64_t records = 0;
    std::map<std::pair<std::string_view, int>, std::int64_t> charsets;
    std::map<std::string_view, std::int64_t> problems;
    std::vector<TagSlot> slots = std::vector<TagSlot>(kNumericTags + kOtherTags + 1);
    std::unordered_map<std::string, std::size_t> otherTags;
    std::vector<std::string> otherTagNames;
    PositionTally leader;
    std::unordered_map<std::uint16_t, PositionTally> marc21FixedData;
    PositionTally unimarcGeneralData;
    std::vector<std::int64_t> years = std::vector<std::int64_t>(kYearValues);  ///< records by year

    std::size_t slotOf(std::string_view tag)
    {
        if (tag.size() == kTagLength && isDigit(static_cast<unsigned char>(tag[0])) &&
            isDigit(static_cast<unsigned char>(tag[1])) && isDigit(static_cast<unsigned char>(tag[2])))
            return static_cast<std::size_t>((tag[0] - '0') * 100 + (tag[1] - '0') * 10 + (tag[2] - '0'));
        return otherSlotOf(tag);
    }

    std::size_t otherSlotOf(std::string_view tag)
    {
        const auto [it, added] = otherTags.try_emplace(std::string(tag), kNumericTags + otherTagNames.size());
        if (added) {
            if (otherTagNames.size() == kOtherTags) {
                otherTags.erase(it);
                return kNumericTags + kOtherTags;
            }
            otherTagNames.emplace_back(tag);
        }
        return it->second;
    }

    std::vector<IsoSubfield> subfields;
    std::vector<FieldView> views;  ///< the fields of the record being counted
    std::vector<std::span<const unsigned char>> pieces;

    void countCharset(const ToldCharset& told) { ++charsets[{told.name, CharsetRuleNumber(told.rule)}]; }

    /// Counts the fields in `views`, of record number `record` (0-based).
    void countFields(std::int64_t record, std::span<const unsigned char, kLeaderLength> leaderBytes, bool unimarc)
    {
        leader.count(kLeaderPositions, leaderBytes);
        const unsigned char delimiter = SubfieldDelimiter(mode);
        for (const FieldView& field : views) {
            const std::string_view tag = field.tag;
            const std::span<const unsigned char> data = field.data;
            TagSlot& slot = slots[slotOf(tag)];
            slot.count.count(record);
            slot.shortest = std::min(slot.shortest, data.size());
            slot.longest = std::max(slot.longest, data.size());
            const bool controlField = tag.size() == kTagLength && tag[0] == '0' && tag[1] == '0';
            if (controlField) {
                if (!unimarc && tagIs(tag, "008")) {
                    const std::uint16_t type = static_cast<std::uint16_t>(leaderBytes[6] << 8 | leaderBytes[7]);
                    marc21FixedData[type].count(kMarc21FixedDataLength, data);
                }
                continue;
            }
            if (data.size() >= 2) {
                if (!slot.indicators)
                    slot.indicators = std::make_unique<std::array<std::array<std::int64_t, 256>, 2>>();
                ++(*slot.indicators)[0][data[0]];
                ++(*slot.indicators)[1][data[1]];
            }
            countSubfields(slot, data, record);
            if (unimarc && tagIs(tag, "100"))
                if (const auto a = subfield(data, delimiter, 'a'))
                    unimarcGeneralData.count(kUnimarcGeneralDataLength, *a);
        }
        if (const std::optional<int> year = publicationYear(std::span<const FieldView>(views), delimiter, unimarc))
            ++years[static_cast<std::size_t>(*year)];
    }

    void countSubfields(TagSlot& slot, std::span<const unsigned char> data, std::int64_t record)
    {
        if (mode == dmNormal) {
            // Every delimiter byte is one: a code follows each before the last
            // byte. A field cut off by the end of the file may hold no byte.
            forEachStandardCode(data, [&](unsigned char code) { countSubfield(slot, code, record); });
        } else if (!data.empty()) {
            // In the printable variants a '$' is a delimiter only before a letter or digit.
            (void)SplitSubfields(data.first(data.size() - 1), mode, subfields);
            for (const IsoSubfield& sub : subfields)
                if (!sub.code.empty())
                    countSubfield(slot, sub.code[0], record);
        }
    }

    static void countSubfield(TagSlot& slot, unsigned char code, std::int64_t record)
    {
        if (!slot.subfields)
            slot.subfields = std::make_unique<std::array<Counter, 256>>();
        (*slot.subfields)[code].count(record);
    }

    std::string nameOf(std::size_t slot) const
    {
        if (slot < kNumericTags) {
            const char name[] = {static_cast<char>('0' + slot / 100), static_cast<char>('0' + slot / 10 % 10),
                                 static_cast<char>('0' + slot % 10)};
            return std::string(name, 3);
        }
        return slot - kNumericTags < otherTagNames.size() ? otherTagNames[slot - kNumericTags] : std::string(kOtherTagsName);
    }
};

std::string ProfileByteText(unsigned char b)
{
    if (b == '\\')
        return "\\\\";
    if (b > 0x20 && b < 0x7F)
        return std::string(1, static_cast<char>(b));
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02X", b);
    return hex;
}

std::string ProfileTagText(std::string_view tag)
{
    std::string shown;
    for (char c : tag)
        shown += ProfileByteText(static_cast<unsigned char>(c));
    return shown;
}

ProfileBuilder::ProfileBuilder(DelimiterMode mode, CharsetSetting setting) : m_tallies(std::make_unique<Tallies>())
{
    m_tallies->mode = mode;
    m_tallies->setting = setting;
}

ProfileBuilder::~ProfileBuilder() = default;

void ProfileBuilder::add(std::span<const unsigned char> bytes, std::uint32_t declaredLength)
{
    Tallies& t = *m_tallies;
    const std::int64_t record = t.records++;
    ++t.sizes[std::min<std::size_t>(declaredLength, kRecordBufferSize)];
    t.reader.read(bytes, declaredLength, {t.mode, true, true});
    for (const RecordProblem& problem : t.reader.problems())
        ++t.problems[problem.code];
    if (t.reader.readByQuickScan()) {
        // The quick scan took every field whole, tags of letters and digits
        // and no more bytes than RecordFields holds: the fields where they
        // lie are those a copy would hold.
        const std::span<const IsoField> fields = t.reader.fields();
        t.views.resize(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i)
            t.views[i] = {fields[i].tag, fields[i].data};
        const std::span<const unsigned char, kLeaderLength> leader = t.reader.leader();
        const CharsetDecision decision = ChooseCharset(t.setting, leader, t.views, t.pieces);
        t.countCharset(TellCharset(t.setting, decision, leader, t.pieces));
        t.countFields(record, leader, t.reader.unimarcShaped());
        return;
    }
    t.fields.assemble(t.reader);
    t.views.clear();
    for (std::size_t i = 0; i < t.fields.fields().size(); ++i)
        t.views.push_back({t.fields.tag(i), t.fields.data(i)});
    t.countCharset(TellCharset(t.setting, ChooseCharset(t.setting, t.fields), t.fields));
    t.countFields(record, t.fields.leader(), IsUnimarcShaped(t.fields));
}

FileProfile ProfileBuilder::finish()
{
    Tallies& t = *m_tallies;
    FileProfile profile;
    profile.records = t.records;
    if (t.records > 0) {
        std::int64_t seen = 0;
        bool medianSet = false;
        for (std::size_t size = 0; size < t.sizes.size(); ++size) {
            if (t.sizes[size] == 0)
                continue;
            if (seen == 0)
                profile.smallest = static_cast<std::uint32_t>(size);
            seen += t.sizes[size];
            if (!medianSet && seen * 2 >= t.records) {
                profile.median = static_cast<std::uint32_t>(size);
                medianSet = true;
            }
            profile.largest = static_cast<std::uint32_t>(size);
        }
    }
    for (const auto& [key, records] : t.charsets)
        profile.charsets[{std::string(key.first), key.second}] = records;
    for (const auto& [code, count] : t.problems)
        profile.problems[std::string(code)] = count;
    for (std::size_t s = 0; s < t.slots.size(); ++s) {
        const Tallies::TagSlot& slot = t.slots[s];
        if (slot.count.occurrences == 0)
            continue;
        const std::string tag = t.nameOf(s);
        profile.tags[tag] = {{slot.count.records, slot.count.occurrences}, slot.shortest, slot.longest};
        if (slot.subfields)
            for (std::size_t code = 0; code < 256; ++code)
                if (const Tallies::Counter& c = (*slot.subfields)[code]; c.occurrences > 0)
                    profile.subfields[{tag, static_cast<char>(code)}] = {c.records, c.occurrences};
        if (slot.indicators)
            for (int position = 0; position < 2; ++position)
                for (std::size_t value = 0; value < 256; ++value)
                    if (const std::int64_t n = (*slot.indicators)[position][value]; n > 0)
                        profile.indicators[{tag, position + 1}][static_cast<char>(value)] = n;
    }
    profile.leader = t.leader.counts();
    for (const auto& [type, tally] : t.marc21FixedData)
        profile.marc21FixedData[std::string{static_cast<char>(type >> 8), static_cast<char>(type & 0xFF)}] = tally.counts();
    profile.unimarcGeneralData = t.unimarcGeneralData.counts();
    for (std::size_t year = 0; year < t.years.size(); ++year)
        if (t.years[year] > 0)
            profile.years[static_cast<int>(year)] = t.years[year];
    return profile;
}

namespace {

template <typename Map>
void addCounts(Map& into, const Map& from)
{
    for (const auto& [key, count] : from)
        into[key] += count;
}

}  // namespace

void ProfileBuilder::absorb(ProfileBuilder& other)
{
    Tallies& t = *m_tallies;
    Tallies& o = *other.m_tallies;
    t.records += o.records;
    for (std::size_t size = 0; size < t.sizes.size(); ++size)
        t.sizes[size] += o.sizes[size];
    addCounts(t.charsets, o.charsets);
    addCounts(t.problems, o.problems);
    auto addCounter = [](Tallies::Counter& into, const Tallies::Counter& from) {
        into.records += from.records;
        into.occurrences += from.occurrences;
    };
    for (std::size_t s = 0; s < o.slots.size(); ++s) {
        Tallies::TagSlot& from = o.slots[s];
        if (from.count.occurrences == 0)
            continue;
        // Slots of tags other than three digits are numbered in each builder's own order.
        Tallies::TagSlot& into = t.slots[s < kNumericTags ? s : t.slotOf(o.nameOf(s))];
        addCounter(into.count, from.count);
        into.shortest = std::min(into.shortest, from.shortest);
        into.longest = std::max(into.longest, from.longest);
        if (from.subfields) {
            if (!into.subfields)
                into.subfields = std::make_unique<std::array<Tallies::Counter, 256>>();
            for (std::size_t code = 0; code < 256; ++code)
                addCounter((*into.subfields)[code], (*from.subfields)[code]);
        }
        if (from.indicators) {
            if (!into.indicators)
                into.indicators = std::make_unique<std::array<std::array<std::int64_t, 256>, 2>>();
            for (std::size_t position = 0; position < 2; ++position)
                for (std::size_t value = 0; value < 256; ++value)
                    (*into.indicators)[position][value] += (*from.indicators)[position][value];
        }
    }
    t.leader.add(o.leader);
    for (const auto& [type, tally] : o.marc21FixedData)
        t.marc21FixedData[type].add(tally);
    t.unimarcGeneralData.add(o.unimarcGeneralData);
    for (std::size_t year = 0; year < t.years.size(); ++year)
        t.years[year] += o.years[year];
    other.m_tallies = std::make_unique<Tallies>();
    other.m_tallies->mode = t.mode;
    other.m_tallies->setting = t.setting;
}

namespace {

/// The records the stream framed in one of its blocks, counted by a worker
/// where they lie.
struct ProfileBatch {
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<BatchedRecord> records;
    void clear() { records.clear(); }
};

}  // namespace

ProfileResult ProfileRecords(int fd, std::int64_t from, std::int64_t to, DelimiterMode mode, CharsetSetting setting,
                             const WorkMonitor& monitor, int workers)
{
    if (workers <= 0)
        workers = DefaultWorkerCount(2);
    std::vector<std::unique_ptr<ProfileBuilder>> builders;
    for (int i = 0; i < workers; ++i)
        builders.push_back(std::make_unique<ProfileBuilder>(mode, setting));
    const RecordPass pass = PassRecordsInBatches<ProfileBatch>(
        fd, from, to, workers, monitor,
        [&](ProfileBatch&, std::span<const unsigned char> bytes, std::uint32_t declaredLength, std::size_t worker) {
            builders[worker]->add(bytes, declaredLength);
        },
        [](ProfileBatch&) {});
    for (std::size_t i = 1; i < builders.size(); ++i)
        builders[0]->absorb(*builders[i]);
    return {pass.outcome, builders[0]->finish(), pass.framed};
}

}  // namespace veltrane

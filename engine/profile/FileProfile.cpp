// SPDX-License-Identifier: Apache-2.0
#include "profile/FileProfile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

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
/// up to the next delimiter or the field terminator.
std::optional<std::span<const unsigned char>> subfield(std::span<const unsigned char> data, unsigned char delimiter,
                                                       unsigned char code)
{
    const unsigned char* const begin = data.data();
    for (const unsigned char* at = begin; data.size() >= 2 && at < begin + data.size() - 1; ++at) {
        at = static_cast<const unsigned char*>(std::memchr(at, delimiter, static_cast<std::size_t>(begin + data.size() - 1 - at)));
        if (at == nullptr)
            break;
        if (at[1] != code)
            continue;
        const std::size_t i = static_cast<std::size_t>(at - begin);
        std::size_t end = i + 2;
        while (end < data.size() && data[end] != delimiter && data[end] != kStandardFieldTerminator &&
               data[end] != kSpecialFieldTerminator)
            ++end;
        return data.subspan(i + 2, end - (i + 2));
    }
    return std::nullopt;
}

std::optional<std::size_t> firstField(const RecordFields& record, std::string_view tag)
{
    for (std::size_t i = 0; i < record.fields().size(); ++i)
        if (record.tag(i) == tag)
            return i;
    return std::nullopt;
}

void countPositions(PositionCounts& counts, std::size_t positions, std::span<const unsigned char> bytes)
{
    if (counts.values.empty())
        counts.values.assign(positions, {});
    for (std::size_t p = 0; p < positions && p < bytes.size(); ++p)
        ++counts.values[p][bytes[p]];
}

std::optional<int> publicationYear(const RecordFields& record, unsigned char subfieldDelimiter, bool unimarc);

}  // namespace

std::optional<int> PublicationYear(const RecordFields& record, unsigned char subfieldDelimiter)
{
    return publicationYear(record, subfieldDelimiter, IsUnimarcShaped(record));
}

namespace {

std::optional<int> publicationYear(const RecordFields& record, unsigned char subfieldDelimiter, bool unimarc)
{
    if (unimarc) {
        if (const std::optional<std::size_t> f = firstField(record, "210"))
            if (const auto d = subfield(record.data(*f), subfieldDelimiter, 'd'))
                if (const std::optional<int> year = firstFourDigits(*d))
                    return year;
        if (const std::optional<std::size_t> f = firstField(record, "100"))
            if (const auto a = subfield(record.data(*f), subfieldDelimiter, 'a'); a && a->size() >= 13)
                if (std::all_of(a->begin() + 9, a->begin() + 13, isDigit))
                    return firstFourDigits(a->subspan(9, 4));
        return std::nullopt;
    }
    // 008/06, the type of date: b (no date, B.C.), n (unknown) and blanks or
    // fill characters give no year at 07-10.
    if (const std::optional<std::size_t> f = firstField(record, "008")) {
        const std::span<const unsigned char> data = record.data(*f);
        if (data.size() >= 11 && std::string_view("cdeikmpqrstu").find(static_cast<char>(data[6])) != std::string_view::npos &&
            std::all_of(data.begin() + 7, data.begin() + 11, isDigit))
            return firstFourDigits(data.subspan(7, 4));
    }
    for (std::size_t i = 0; i < record.fields().size(); ++i) {
        const std::span<const unsigned char> data = record.data(i);
        if (record.tag(i) == "264" && data.size() >= 2 && data[1] == '1')
            if (const auto c = subfield(data, subfieldDelimiter, 'c'))
                if (const std::optional<int> year = firstFourDigits(*c))
                    return year;
    }
    if (const std::optional<std::size_t> f = firstField(record, "260"))
        if (const auto c = subfield(record.data(*f), subfieldDelimiter, 'c'))
            return firstFourDigits(*c);
    return std::nullopt;
}

}  // namespace

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
    PositionCounts leader;
    std::unordered_map<std::uint16_t, PositionCounts> marc21FixedData;
    PositionCounts unimarcGeneralData;
    std::map<int, std::int64_t> years;

    std::size_t slotOf(std::string_view tag)
    {
        if (tag.size() == kTagLength && std::all_of(tag.begin(), tag.end(), [](char c) { return isDigit(static_cast<unsigned char>(c)); }))
            return static_cast<std::size_t>((tag[0] - '0') * 100 + (tag[1] - '0') * 10 + (tag[2] - '0'));
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
    t.fields.assemble(t.reader);
    const CharsetDecision decision = ChooseCharset(t.setting, t.fields);
    const ToldCharset told = TellCharset(t.setting, decision, t.fields);
    ++t.charsets[{told.name, CharsetRuleNumber(told.rule)}];
    countPositions(t.leader, kLeaderPositions, t.fields.leader());

    const unsigned char delimiter = SubfieldDelimiter(t.mode);
    const bool unimarc = IsUnimarcShaped(t.fields);
    for (std::size_t i = 0; i < t.fields.fields().size(); ++i) {
        const std::string_view tag = t.fields.tag(i);
        const std::span<const unsigned char> data = t.fields.data(i);
        Tallies::TagSlot& slot = t.slots[t.slotOf(tag)];
        slot.count.count(record);
        slot.shortest = std::min(slot.shortest, data.size());
        slot.longest = std::max(slot.longest, data.size());
        const bool controlField = tag.size() == kTagLength && tag[0] == '0' && tag[1] == '0';
        if (controlField) {
            if (tag == "008" && !unimarc) {
                const std::uint16_t type = static_cast<std::uint16_t>(t.fields.leader()[6] << 8 | t.fields.leader()[7]);
                countPositions(t.marc21FixedData[type], kMarc21FixedDataLength, data);
            }
            continue;
        }
        if (data.size() >= 2) {
            if (!slot.indicators)
                slot.indicators = std::make_unique<std::array<std::array<std::int64_t, 256>, 2>>();
            ++(*slot.indicators)[0][data[0]];
            ++(*slot.indicators)[1][data[1]];
        }
        if (t.mode == dmNormal) {
            // Every delimiter byte is one: a code follows each before the last
            // byte. A field cut off by the end of the file may hold no byte.
            if (data.size() < 2)
                continue;
            const unsigned char* last = data.data() + data.size() - 1;
            for (const unsigned char* at = data.data();
                 at < last && (at = static_cast<const unsigned char*>(std::memchr(at, delimiter, static_cast<std::size_t>(last - at)))) != nullptr;
                 ++at)
                Tallies::countSubfield(slot, at[1], record);
        } else if (!data.empty()) {
            // In the printable variants a '$' is a delimiter only before a letter or digit.
            (void)SplitSubfields(data.first(data.size() - 1), t.mode, t.subfields);
            for (const IsoSubfield& sub : t.subfields)
                if (!sub.code.empty())
                    Tallies::countSubfield(slot, sub.code[0], record);
        }
        if (unimarc && tag == "100")
            if (const auto a = subfield(data, delimiter, 'a'))
                countPositions(t.unimarcGeneralData, kUnimarcGeneralDataLength, *a);
    }
    if (const std::optional<int> year = publicationYear(t.fields, delimiter, unimarc))
        ++t.years[*year];
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
    profile.leader = std::move(t.leader);
    for (auto& [type, counts] : t.marc21FixedData)
        profile.marc21FixedData[std::string{static_cast<char>(type >> 8), static_cast<char>(type & 0xFF)}] = std::move(counts);
    profile.unimarcGeneralData = std::move(t.unimarcGeneralData);
    profile.years = std::move(t.years);
    return profile;
}

namespace {

void addPositions(PositionCounts& into, PositionCounts& from)
{
    if (into.values.empty()) {
        into = std::move(from);
        return;
    }
    for (std::size_t p = 0; p < from.values.size(); ++p)
        for (std::size_t v = 0; v < 256; ++v)
            into.values[p][v] += from.values[p][v];
}

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
    addPositions(t.leader, o.leader);
    for (auto& [type, counts] : o.marc21FixedData)
        addPositions(t.marc21FixedData[type], counts);
    addPositions(t.unimarcGeneralData, o.unimarcGeneralData);
    addCounts(t.years, o.years);
    other.m_tallies = std::make_unique<Tallies>();
    other.m_tallies->mode = t.mode;
    other.m_tallies->setting = t.setting;
}

namespace {

/// The records the stream framed in one of its blocks, counted by a worker
/// where they lie.
struct ProfileBatch {
    struct Record {
        std::size_t at = 0, size = 0;  ///< where its bytes are in the block
        std::uint32_t declaredLength = 0;
    };
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<Record> records;
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
    // With one worker the calling thread counts between reads.
    std::optional<BatchWorkers<ProfileBatch>> pool;
    if (workers > 1)
        pool.emplace(workers, RecordStream::blockCapacity(RecordStream::kDefaultBlockSize),
                     [&](ProfileBatch& batch, std::size_t worker) {
                         for (const ProfileBatch::Record& r : batch.records)
                             builders[worker]->add({batch.bytes.get() + r.at, r.size}, r.declaredLength);
                     },
                     [](ProfileBatch&) {});
    RecordStream stream = pool ? RecordStream(fd, RecordStream::kDefaultBlockSize, *pool) : RecordStream(fd);
    FramedRecord record;
    struct stat info {};
    const std::uint64_t total = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    std::uint64_t reported = 0;
    Outcome outcome = Outcome::Done;
    while (stream.count() < to) {
        const bool wanted = stream.count() + 1 >= from;
        const RecordStream::Step step = stream.next(record, wanted);
        if (step == RecordStream::Step::ReadError)
            outcome = Outcome::FileError;
        if (step != RecordStream::Step::Record)
            break;
        if (record.offset >= reported + monitor.interval) {
            if (monitor.stopRequested()) {
                outcome = Outcome::Cancelled;
                break;
            }
            reported = record.offset;
            monitor.report(std::min(reported, total), total);
        }
        if (!wanted)
            continue;
        if (pool) {
            ProfileBatch& batch = pool->current();
            batch.records.push_back({static_cast<std::size_t>(record.bytes.data() - batch.bytes.get()),
                                     record.bytes.size(), record.declaredLength});
        } else {
            builders[0]->add(record.bytes, record.declaredLength);
        }
    }
    if (pool)
        pool->finish();
    // A stop asked for after the last check still ends the work as cancelled:
    // whoever asked wants no profile.
    if (outcome == Outcome::Done && monitor.stopRequested())
        outcome = Outcome::Cancelled;
    for (std::size_t i = 1; i < builders.size(); ++i)
        builders[0]->absorb(*builders[i]);
    return {outcome, builders[0]->finish(), stream.count()};
}

}  // namespace veltrane

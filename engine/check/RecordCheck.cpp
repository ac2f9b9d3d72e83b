#include "check/RecordCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "files/FileAccess.h"
#include "iso2709/MarcRecord.h"
#include "iso2709/RecordLayout.h"
#include "charset/CharsetInternal.h"
#include "charset/Utf8.h"

namespace veltrane {

namespace {

constexpr unsigned char kRecordTerminator = 0x1D;  // group separator, 29
constexpr unsigned char kEscape = 0x1B;            // starts a MARC-8 set change
constexpr std::size_t kLengthDigits = 5;
constexpr std::size_t kFieldLengthDigits = 4;
constexpr std::size_t kFieldStartDigits = 5;

bool allDigits(const unsigned char* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!IsAsciiDigit(bytes[i]))
            return false;
    return true;
}

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

std::string printable(std::span<const unsigned char> bytes)
{
    std::string text;
    for (unsigned char b : bytes)
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
    return text;
}

std::string hexByte(unsigned char b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = kOnes * 0x80;

/// Whether bytes hold anything but ASCII without ESC: only such a field can
/// be invalid in a set, as ASCII reads the same in all of them.
bool needsCharsetCheck(std::span<const unsigned char> bytes)
{
    const unsigned char* p = bytes.data();
    const unsigned char* const end = p + bytes.size();
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t escapes = word ^ (kOnes * kEscape);  // a zero byte where ESC was
        if (((word | ((escapes - kOnes) & ~escapes)) & kHighBits) != 0)
            return true;
    }
    return std::any_of(p, end, [](unsigned char b) { return b >= 0x80 || b == kEscape; });
}

/// A record's 001 value as a problem line shows it. Printable ASCII, as most
/// are, is read where it stands in the record's bytes and made into text only
/// for a problem; anything else is made into text at once.
struct ControlNumber {
    std::string_view standing;  ///< the value in the record's bytes, when printable ASCII
    std::string made;           ///< otherwise: decoded, controls as '?'

    [[nodiscard]] std::string_view value() const { return standing.data() != nullptr ? standing : made; }
};

/// Where the fields of a record lie, for the overlap test.
struct FieldRange {
    std::size_t begin, end, entry;
};

/// Scratch objects of one thread, kept from record to record.
struct CheckScratch {
    std::vector<FieldRange> ranges;
    std::vector<FieldView> views;
    std::vector<std::span<const unsigned char>> pieces;
};

class RecordChecker {
public:
    RecordChecker(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
                  std::vector<CheckProblem>& out, CheckScratch& scratch)
        : m_record(record), m_bytes(record.bytes), m_options(options), m_fields(fields), m_codec(codec), m_out(out),
          m_ranges(scratch.ranges), m_views(scratch.views), m_pieces(scratch.pieces),
          m_terminator(FieldTerminator(options.mode))
    {
    }

    /// inPlace: a well-formed record is checked where it stands, without
    /// RecordFields; what it tells is the same.
    void run(bool inPlace)
    {
        if (inPlace && takeInPlace()) {
            m_inPlace = true;
            findControlNumber();
            checkCharacters();
            return;
        }
        const std::uint32_t length = m_record.declaredLength;
        const std::size_t available = m_bytes.size();
        if (available < kLeaderLength) {
            add(0, "truncated", "the file ends inside the leader (" + std::to_string(available) + " bytes)");
            return;
        }
        m_fields.assemble(m_bytes.data(), available);
        m_views.clear();
        for (std::size_t i = 0; i < m_fields.fields().size(); ++i)
            m_views.push_back({m_fields.tag(i), m_fields.data(i)});
        findControlNumber();
        if (!allDigits(m_bytes.data(), kLengthDigits))
            add(0, "length-digits", "the record length '" + printable(m_bytes.first(kLengthDigits)) +
                                        "' is not five digits; taken as " + std::to_string(length));
        const bool whole = available >= length;
        if (!whole)
            add(0, "truncated", "the record runs past the end of the file: " + std::to_string(length) +
                                    " bytes declared, " + std::to_string(available) + " in the file");
        // Fields end before the record terminator when it stands where the
        // length says; otherwise they may reach the declared end.
        std::size_t dataEnd = length;
        if (whole) {
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
        checkStructure(length, std::min<std::size_t>(available, length), dataEnd);
        checkCharacters();
    }

    [[nodiscard]] ControlNumber takeControlNumber() { return std::move(m_controlNumber); }

private:
    void add(std::size_t at, std::string_view code, std::string description)
    {
        m_out.push_back(
            {m_record.number, m_record.offset + at, std::string(m_controlNumber.value()), code, std::move(description)});
    }

    /// Whether the record has none of the structural problems, its fields
    /// lie back to back in order and RecordFields would hold them whole; then
    /// m_views holds them as RecordFields would, and m_pieces their bytes
    /// joined as JoinFieldBytes joins them. Anything else goes the long way,
    /// which tells what is wrong.
    bool takeInPlace()
    {
        const std::uint32_t length = m_record.declaredLength;
        const unsigned char* r = m_bytes.data();
        if (m_bytes.size() < length || length <= kLeaderLength || !allDigits(r, kLengthDigits) ||
            r[length - 1] != kRecordTerminator || !allDigits(r + kBaseAddressOffset, 5))
            return false;
        const std::uint32_t base = ParseDigits(r + kBaseAddressOffset, 5);
        if (base <= kLeaderLength || base > length || (base - kLeaderLength - 1) % kDirectoryEntryLength != 0 ||
            r[base - 1] != m_terminator)
            return false;
        const std::size_t entries = DirectoryEntryCount(base);
        const std::size_t dataEnd = length - 1;
        std::size_t previousEnd = 0, held = 0;
        m_views.resize(entries);
        m_pieces.clear();
        for (std::size_t i = 0; i < entries; ++i) {
            const unsigned char* entry = r + kLeaderLength + i * kDirectoryEntryLength;
            // Tags of letters and digits leave the charset scans as they are.
            if (!IsAsciiLetterOrDigit(entry[0]) || !IsAsciiLetterOrDigit(entry[1]) ||
                !IsAsciiLetterOrDigit(entry[2]) || !entryDigits(entry))
                return false;
            const auto [fieldLength, start] = entryValues(entry);
            const std::size_t begin = std::size_t{base} + start;
            const std::size_t end = begin + fieldLength;
            if (fieldLength == 0 || end > dataEnd || r[end - 1] != m_terminator || begin < previousEnd)
                return false;
            if (begin == previousEnd && !m_pieces.empty())
                m_pieces.back() = {m_pieces.back().data(), m_pieces.back().size() + fieldLength};
            else
                m_pieces.push_back({r + begin, fieldLength});
            previousEnd = end;
            held += kTagLength + fieldLength;
            m_views[i] = {{reinterpret_cast<const char*>(entry), kTagLength}, {r + begin, fieldLength}};
        }
        return held <= kFieldBufferSize;
    }

    void findControlNumber()
    {
        for (std::size_t i = 0; i < m_views.size(); ++i) {
            if (m_views[i].tag != "001")
                continue;
            std::span<const unsigned char> data = m_views[i].data;
            const auto end = std::find(data.begin(), data.end(), m_terminator);
            data = data.first(static_cast<std::size_t>(end - data.begin()));
            if (std::all_of(data.begin(), data.end(), [](unsigned char b) { return b >= 0x20 && b < 0x7F; })) {
                m_controlNumber.standing = {reinterpret_cast<const char*>(data.data()), data.size()};
                return;
            }
            std::string& text = m_controlNumber.made;
            if (std::all_of(data.begin(), data.end(), [](unsigned char b) { return b < 0x80; }))
                text.assign(reinterpret_cast<const char*>(data.data()), data.size());
            else
                (void)m_codec.decode(charset(), data, text);
            // The value stands in a tab-separated line.
            for (char& c : text)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = '?';
            return;
        }
    }

    void checkStructure(std::uint32_t length, std::size_t available, std::size_t dataEnd)
    {
        const unsigned char* leader = m_bytes.data();
        const std::uint32_t base = ParseDigits(leader + kBaseAddressOffset, 5);
        if (!allDigits(leader + kBaseAddressOffset, 5) || base <= kLeaderLength || base > length) {
            add(kBaseAddressOffset, "base-address",
                "the base address '" + printable(m_bytes.subspan(kBaseAddressOffset, 5)) +
                    "' lies outside the record of " + std::to_string(length) + " bytes");
            checkEntries(0, available, dataEnd, length);
            return;
        }
        const std::size_t directoryLength = base - kLeaderLength - 1;
        // Where the directory really ends: the first entry that starts with the
        // field terminator.
        std::size_t end = kLeaderLength;
        while (end < available && end < base && m_bytes[end] != m_terminator)
            end += kDirectoryEntryLength;
        if (directoryLength % kDirectoryEntryLength != 0) {
            add(kBaseAddressOffset, "directory-length",
                "the directory is " + std::to_string(directoryLength) + " bytes (base address " +
                    std::to_string(base) + "), not a multiple of 12");
        } else if (base <= available && m_bytes[base - 1] != m_terminator) {
            add(base - 1, "directory-end",
                "the directory ends with " + hexByte(m_bytes[base - 1]) + ", not the field terminator");
        } else if (end + 1 != base && end < available) {
            add(kBaseAddressOffset, "base-address",
                "the base address is " + std::to_string(base) + " but the directory ends at byte " +
                    std::to_string(end));
        }
        checkEntries(base, available, dataEnd, length);
    }

    void checkEntries(std::uint32_t base, std::size_t available, std::size_t dataEnd, std::uint32_t length)
    {
        const std::size_t entries = DirectoryEntryCount(base);
        std::vector<FieldRange>& spans = m_ranges;
        spans.clear();
        for (std::size_t i = 0; i < entries; ++i) {
            const std::size_t position = kLeaderLength + i * kDirectoryEntryLength;
            if (position + kDirectoryEntryLength > available)
                break;
            const unsigned char* entry = m_bytes.data() + position;
            // Named only in a problem's description.
            auto tag = [entry] { return printable({entry, kTagLength}); };
            if (!entryDigits(entry)) {
                add(position, "entry-digits",
                    "directory entry " + std::to_string(i + 1) + " (tag " + tag() + ") reads '" +
                        printable({entry + kTagLength, kFieldLengthDigits + kFieldStartDigits}) +
                        "' for its length and start");
                continue;
            }
            const auto [fieldLength, start] = entryValues(entry);
            const std::size_t begin = std::size_t{base} + start;
            const std::size_t end = begin + fieldLength;
            if (end > dataEnd) {
                // In a record cut short by the end of the file only fields
                // beyond the declared length are outside.
                if (end > length || available >= length)
                    add(position, "field-outside",
                        "field " + tag() + " (entry " + std::to_string(i + 1) + ") spans bytes " + std::to_string(begin) +
                            " to " + std::to_string(end) + ", past the record's data ending at " +
                            std::to_string(dataEnd));
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
            if (spans[k].begin < spans[k - 1].end)
                add(spans[k].begin, "field-overlap",
                    "the field of entry " + std::to_string(spans[k].entry + 1) + " overlaps the field of entry " +
                        std::to_string(spans[k - 1].entry + 1));
    }

    void checkCharacters()
    {
        const bool flaggedUtf8 = m_bytes[kCharacterCodingOffset] == 'a';
        bool validUtf8 = flaggedUtf8;
        for (std::size_t i = 0; flaggedUtf8 && i < m_views.size(); ++i) {
            if (!IsValidUtf8(m_views[i].data)) {
                add(0, "bad-utf8", "leader byte 9 says UTF-8 but field " + tagText(i) +
                                       " (entry " + std::to_string(i + 1) + ") is not valid UTF-8");
                // The same bytes counted again as invalid would say the same.
                if (charset() == Charset::Utf8)
                    return;
                validUtf8 = false;
                break;
            }
        }
        if (!flaggedUtf8 && m_inPlace &&
            (m_options.charset == CharsetSetting::Auto || m_options.charset == CharsetSetting::Gbk)) {
            checkCharactersFromScan();
            return;
        }
        for (std::size_t i = 0; i < m_views.size(); ++i) {
            if (!needsCharsetCheck(m_views[i].data))
                continue;
            // What is valid UTF-8 has nothing invalid in UTF-8.
            if (validUtf8 && charset() == Charset::Utf8)
                return;
            addInvalid(i);
        }
    }

    /// Scans the fields once as GBK, which also finds what the automatic rules
    /// look for: most records not flagged UTF-8 that have high bytes are GBK,
    /// and in most of those nothing is invalid. Fields are counted one by one
    /// only when something is.
    void checkCharactersFromScan()
    {
        TextScan record;
        for (const auto& piece : m_pieces) {
            const TextScan scan = m_codec.scanText(piece);
            record.invalidGbk += scan.invalidGbk;
            record.high |= scan.high;
            record.escape |= scan.escape;
            record.highBeforeDigit |= scan.highBeforeDigit;
        }
        if (!record.high && !record.escape)
            return;
        if (m_options.charset == CharsetSetting::Auto) {
            const CharsetDecision decision = DetectCharset(m_bytes.first<kLeaderLength>(), m_views, m_pieces,
                                                           {record.escape, record.highBeforeDigit});
            m_charset = decision.charset;
            // The bytes that decided UTF-8 by the third rule are valid UTF-8.
            if (decision.charset == Charset::Utf8 && decision.rule == 3)
                return;
        } else {
            m_charset = Charset::Gbk;
        }
        if (*m_charset == Charset::Gbk && record.invalidGbk == 0)
            return;
        for (std::size_t i = 0; i < m_views.size(); ++i)
            if (needsCharsetCheck(m_views[i].data))
                addInvalid(i);
    }

    void addInvalid(std::size_t field)
    {
        const std::size_t invalid = m_codec.countInvalid(charset(), m_views[field].data);
        if (invalid > 0)
            add(0, "invalid-bytes",
                "field " + tagText(field) + " (entry " + std::to_string(field + 1) + ") has " +
                    std::to_string(invalid) + " bytes invalid in " + std::string(CharsetName(charset())));
    }

    /// The record's set, decided when first needed: most records are ASCII
    /// throughout and need none.
    Charset charset()
    {
        if (!m_charset)
            m_charset = !m_inPlace ? ChooseCharset(m_options.charset, m_fields).charset
                        : m_options.charset == CharsetSetting::Auto
                            ? DetectCharset(m_bytes.first<kLeaderLength>(), m_views, m_pieces).charset
                            : ChooseCharset(m_options.charset, m_fields).charset;
        return *m_charset;
    }

    std::string tagText(std::size_t i) const
    {
        return printable({reinterpret_cast<const unsigned char*>(m_views[i].tag.data()), m_views[i].tag.size()});
    }

    const FramedRecord& m_record;
    std::span<const unsigned char> m_bytes;
    const CheckOptions& m_options;
    RecordFields& m_fields;
    TextCodec& m_codec;
    std::vector<CheckProblem>& m_out;
    std::vector<FieldRange>& m_ranges;
    std::vector<FieldView>& m_views;  ///< the record's fields, in RecordFields or in place
    std::vector<std::span<const unsigned char>>& m_pieces;
    bool m_inPlace = false;
    unsigned char m_terminator;
    ControlNumber m_controlNumber;
    std::optional<Charset> m_charset;
};

void checkOne(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
              std::vector<CheckProblem>& out, CheckScratch& scratch, ControlNumber& controlNumber, bool inPlace)
{
    RecordChecker checker(record, options, fields, codec, out, scratch);
    checker.run(inPlace);
    controlNumber = checker.takeControlNumber();
}

}  // namespace

int DefaultCheckWorkers()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxCheckWorkers)));
}

void CheckRecord(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
                 std::vector<CheckProblem>& out, std::string* controlNumber)
{
    CheckScratch scratch;
    ControlNumber found;
    checkOne(record, options, fields, codec, out, scratch, found, false);
    if (controlNumber != nullptr)
        controlNumber->assign(found.value());
}

namespace {

std::string junkDescription(std::uint64_t from, std::uint64_t bytes, std::int64_t before)
{
    return std::to_string(bytes) + " bytes between records, from byte " + std::to_string(from) +
           (before == 0 ? " (before the first record)" : "");
}

/// Tells what follows the last record: skipped bytes, then perhaps bytes
/// that start like a record but cannot be one.
template <typename Tell>
void tellTail(int fd, std::uint64_t size, const CheckOptions& options, const RecordStream& stream,
              std::uint64_t previousEnd, const std::string& lastControlNumber, Tell& tell)
{
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    const std::int64_t last = stream.count();
    if (last > options.last)
        return;
    const std::uint64_t stop = std::min(stream.position(), size);
    if (stop > previousEnd && !stream.skippedLineEnds() && inRange(last == 0 ? 1 : last))
        tell({last, previousEnd, last == 0 ? std::string() : lastControlNumber, "junk",
              junkDescription(previousEnd, stop - previousEnd, last)});
    if (stop < size && inRange(last == 0 ? 1 : last)) {
        unsigned char head[kLeaderLength] = {};
        const ssize_t got = fileaccess::readAt(fd, head, sizeof head, static_cast<off_t>(stop));
        const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
        const std::string rest = std::to_string(size - stop) + " bytes from byte " + std::to_string(stop);
        if (n < kLeaderLength)
            tell({last, stop, lastControlNumber, "truncated",
                  "the file ends inside the leader of the next record: " + rest + " are not read"});
        else if (!allDigits(head, kLengthDigits))
            tell({last, stop, lastControlNumber, "length-digits",
                  "the record length '" + printable({head, kLengthDigits}) + "' is not five digits: " + rest +
                      " are not read"});
        else
            tell({last, stop, lastControlNumber, "length-short",
                  "the record length " + std::to_string(ParseDigits(head, kLengthDigits)) +
                      " is under 25: " + rest + " are not read"});
    }
}

/// A record handed to a worker, in the block the stream framed it in.
struct BatchRecord {
    std::int64_t number = 0;
    std::uint64_t offset = 0;
    std::uint32_t declaredLength = 0;
    std::size_t at = 0, size = 0;  ///< where its bytes are in the block
    std::uint64_t junkFrom = 0, junkBytes = 0;
    bool junkLineEnds = true;
    bool checked = true;  ///< false: only the junk before it is told (the record after the range)
};

/// The records the stream framed in one of its blocks, checked by a worker
/// where they stand: the file is read once and nothing is copied.
struct Batch {
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<BatchRecord> records;
    std::vector<CheckProblem> problems;
    /// The first problem is junk after the last record of the batch before,
    /// whose 001 value only the printer knows.
    bool firstTakesPrevious = false;
    std::string lastControlNumber;  ///< of its last checked record
    bool anyChecked = false;
    bool done = false;

    void clear()
    {
        records.clear();
        problems.clear();
        firstTakesPrevious = false;
        anyChecked = false;
        done = false;
    }
};

/// Lends the stream its blocks, one batch each, checks each batch on a worker
/// thread once the stream has moved on from its block, and gives the batches
/// back to `take` in order; a block is lent again only after its batch has
/// been given back. Each worker has its own scratch objects.
class BatchChecker final : public BlockLender {
public:
    BatchChecker(const CheckOptions& options, int workers, std::size_t blockCapacity, std::function<void(Batch&)> take)
        : m_options(options), m_take(std::move(take)), m_slots(static_cast<std::size_t>(workers) * 3)
    {
        for (Batch& batch : m_slots)
            batch.bytes.reset(new unsigned char[blockCapacity]);
        for (int i = 0; i < workers; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    ~BatchChecker() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_work.notify_all();
        m_threads.clear();  // joins
    }

    BatchChecker(const BatchChecker&) = delete;
    BatchChecker& operator=(const BatchChecker&) = delete;

    /// The batch of the stream's current block.
    Batch& current() { return m_slots[m_next % m_slots.size()]; }

    unsigned char* freshBlock() override
    {
        if (!m_lent) {
            m_lent = true;
            return current().bytes.get();
        }
        // The next slot's batch is given back first when it is still out.
        if (m_next + 1 - m_taken == m_slots.size())
            takeOldest();
        Batch& next = m_slots[(m_next + 1) % m_slots.size()];
        next.clear();
        return next.bytes.get();
    }

    void leftBlock(unsigned char*) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(&current());
        }
        m_work.notify_one();
        ++m_next;
    }

    /// Hands in the current batch and gives every batch back, in order.
    void finish()
    {
        if (!current().records.empty())
            leftBlock(current().bytes.get());
        while (m_taken < m_next)
            takeOldest();
    }

private:
    void takeOldest()
    {
        Batch& batch = m_slots[m_taken % m_slots.size()];
        {
            std::unique_lock lock(m_mutex);
            m_done.wait(lock, [&] { return batch.done; });
        }
        m_take(batch);
        ++m_taken;
    }

    void work()
    {
        RecordFields fields;
        TextCodec codec;
        CheckScratch scratch;
        ControlNumber controlNumber;
        for (;;) {
            Batch* batch = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_work.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                batch = m_queue.front();
                m_queue.pop_front();
            }
            checkBatch(*batch, fields, codec, scratch, controlNumber);
            {
                std::lock_guard lock(m_mutex);
                batch->done = true;
            }
            m_done.notify_one();
        }
    }

    void checkBatch(Batch& batch, RecordFields& fields, TextCodec& codec, CheckScratch& scratch,
                    ControlNumber& controlNumber) const
    {
        FramedRecord framed;
        for (const BatchRecord& r : batch.records) {
            if (r.junkBytes != 0 && !r.junkLineEnds) {
                const std::int64_t before = r.number - 1;
                if (before == 0 || (before >= m_options.first && before <= m_options.last)) {
                    if (before != 0 && !batch.anyChecked && batch.problems.empty())
                        batch.firstTakesPrevious = true;
                    batch.problems.push_back(
                        {before, r.junkFrom,
                         before == 0 || !batch.anyChecked ? std::string() : std::string(controlNumber.value()), "junk",
                         junkDescription(r.junkFrom, r.junkBytes, before)});
                }
            }
            if (!r.checked)
                continue;
            framed.number = r.number;
            framed.offset = r.offset;
            framed.declaredLength = r.declaredLength;
            framed.bytes = {batch.bytes.get() + r.at, r.size};
            checkOne(framed, m_options, fields, codec, batch.problems, scratch, controlNumber, true);
            batch.anyChecked = true;
        }
        // The block goes back to the stream: the last value is kept as text.
        if (batch.anyChecked)
            batch.lastControlNumber.assign(controlNumber.value());
    }

    const CheckOptions& m_options;
    std::function<void(Batch&)> m_take;
    std::vector<Batch> m_slots;
    bool m_lent = false;      ///< the stream has its first block
    std::size_t m_next = 0;   ///< batches handed in
    std::size_t m_taken = 0;  ///< batches given back
    std::mutex m_mutex;
    std::condition_variable m_work, m_done;
    std::deque<Batch*> m_queue;
    bool m_stopping = false;
    std::vector<std::jthread> m_threads;
};

/// How framing the records ended.
enum class FramingEnd {
    Finished,   ///< no record after the last: what follows it is told
    LeftRange,  ///< `take` stopped at the record after the range
    Failed,     ///< a read error or a stop; the result says which
};

/// Frames the records of stream front to back and hands each to `take`
/// until it returns false; reports progress and honours a stop every
/// monitor.interval bytes.
template <typename Take>
FramingEnd frameRecords(RecordStream& stream, std::uint64_t size, const WorkMonitor& monitor, CheckResult& result,
                        Take take)
{
    FramedRecord framed;
    std::uint64_t reported = 0;
    monitor.report(0, size);
    for (;;) {
        const RecordStream::Step step = stream.next(framed);
        if (step == RecordStream::Step::ReadError) {
            result.status = CheckResult::Status::ReadError;
            result.error = errno;
            return FramingEnd::Failed;
        }
        if (step == RecordStream::Step::End)
            return FramingEnd::Finished;
        result.records = framed.number;
        if (framed.offset >= reported + monitor.interval) {
            if (monitor.stopRequested()) {
                result.status = CheckResult::Status::Cancelled;
                return FramingEnd::Failed;
            }
            reported = framed.offset;
            monitor.report(std::min(reported, size), size);
        }
        if (!take(framed))
            return FramingEnd::LeftRange;
    }
}

CheckResult checkThreaded(int fd, std::uint64_t size, const CheckOptions& options, const WorkMonitor& monitor,
                          const std::function<void(const CheckProblem&)>& report, int workers)
{
    CheckResult result;
    std::string lastControlNumber;
    std::uint64_t previousEnd = 0;
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    auto tell = [&](const CheckProblem& problem) {
        ++result.problems;
        report(problem);
    };
    auto take = [&](Batch& batch) {
        for (std::size_t i = 0; i < batch.problems.size(); ++i) {
            if (i == 0 && batch.firstTakesPrevious)
                batch.problems[0].controlNumber = lastControlNumber;
            tell(batch.problems[i]);
        }
        if (batch.anyChecked)
            std::swap(lastControlNumber, batch.lastControlNumber);
    };
    constexpr std::size_t kBlockSize = RecordStream::kDefaultBlockSize;
    BatchChecker checker(options, workers, RecordStream::blockCapacity(kBlockSize), take);
    RecordStream stream(fd, kBlockSize, checker);
    auto add = [&](const FramedRecord& framed, bool checked) {
        BatchRecord r;
        r.number = framed.number;
        r.offset = framed.offset;
        r.declaredLength = framed.declaredLength;
        r.junkFrom = previousEnd;
        r.junkBytes = framed.separatorBefore;
        r.junkLineEnds = framed.separatorLineEnds;
        r.checked = checked;
        Batch& batch = checker.current();
        if (checked) {
            r.at = static_cast<std::size_t>(framed.bytes.data() - batch.bytes.get());
            r.size = framed.bytes.size();
        }
        batch.records.push_back(r);
    };
    const FramingEnd end = frameRecords(stream, size, monitor, result, [&](const FramedRecord& framed) {
        if (framed.number > options.last) {
            add(framed, false);
            return false;
        }
        if (inRange(framed.number))
            add(framed, true);
        previousEnd = framed.offset + framed.declaredLength;
        return true;
    });
    // Everything framed is checked and told, whatever ended the framing, as
    // one record after another would have been.
    checker.finish();
    if (end == FramingEnd::Finished)
        tellTail(fd, size, options, stream, previousEnd, lastControlNumber, tell);
    return result;
}

CheckResult checkAll(int fd, std::uint64_t size, const CheckOptions& options, const WorkMonitor& monitor,
                     const std::function<void(const CheckProblem&)>& report)
{
    CheckResult result;
    RecordStream stream(fd);
    RecordFields fields;
    TextCodec codec;
    std::vector<CheckProblem> problems;
    CheckScratch scratch;
    std::string lastControlNumber;
    ControlNumber controlNumber;
    std::uint64_t previousEnd = 0;
    auto inRange = [&](std::int64_t number) { return number >= options.first && number <= options.last; };
    auto tell = [&](const CheckProblem& problem) {
        ++result.problems;
        report(problem);
    };
    // Runs of CR and LF alone are line ends, a common way to write record
    // files, not junk.
    auto junk = [&](std::uint64_t from, std::uint64_t bytes, bool lineEnds, std::int64_t before) {
        if (bytes == 0 || lineEnds || !inRange(before == 0 ? 1 : before))
            return;
        tell({before, from, before == 0 ? std::string() : lastControlNumber, "junk",
              junkDescription(from, bytes, before)});
    };
    const FramingEnd end = frameRecords(stream, size, monitor, result, [&](const FramedRecord& framed) {
        junk(previousEnd, framed.separatorBefore, framed.separatorLineEnds, framed.number - 1);
        previousEnd = framed.offset + framed.declaredLength;
        if (framed.number > options.last)
            return false;
        if (!inRange(framed.number))
            return true;
        problems.clear();
        checkOne(framed, options, fields, codec, problems, scratch, controlNumber, false);
        for (const CheckProblem& p : problems)
            tell(p);
        lastControlNumber.assign(controlNumber.value());
        return true;
    });
    if (end == FramingEnd::Finished)
        tellTail(fd, size, options, stream, previousEnd, lastControlNumber, tell);
    return result;
}

}  // namespace

CheckResult CheckRecords(int fd, const CheckOptions& options, const WorkMonitor& monitor,
                         const std::function<void(const CheckProblem&)>& report)
{
    struct stat info {};
    const std::uint64_t size = ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    const int workers = options.workers > 0 ? options.workers : DefaultCheckWorkers();
    CheckResult result = workers > 1 ? checkThreaded(fd, size, options, monitor, report, workers)
                                     : checkAll(fd, size, options, monitor, report);
    if (result.status == CheckResult::Status::Done) {
        // A stop asked for after the last check is honoured all the same.
        if (monitor.stopRequested())
            result.status = CheckResult::Status::Cancelled;
        else
            monitor.report(size, size);
    }
    return result;
}

}  // namespace veltrane

#include "RecordScan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "DisplayText.h"
#include "FileAccess.h"
#include "RecordIndex.h"
#include "RecordLayout.h"

namespace veltrane {

using namespace fileaccess;

char SearchText[kPatternBufferSize];
bool SearchCaseSensitive = false;
std::string ScratchDisplayFile = "tempdisp.mrc";

namespace {

struct OpenRecordFile {
    std::string path;
    FileIdentity identity;
};

std::vector<OpenRecordFile>& openRecordFiles()
{
    static std::vector<OpenRecordFile> files;
    return files;
}

// Records are read through one buffer of many records: a scan visits records
// in increasing offset order, so one read brings in many of them. A size that
// stays in the processor's cache searched fastest.
constexpr std::size_t kReadAheadSize = 128 * 1024;
static_assert(kReadAheadSize >= kRecordBufferSize, "a whole record must fit in the read-ahead buffer");
unsigned char ReadAheadBuffer[kReadAheadSize];

constexpr std::size_t kIndexBlockEntries = 4096;
unsigned char IndexBlock[kIndexBlockEntries * kIndexEntrySize];

unsigned char PatternBuffer[kPatternBufferSize];

DisplayText RenderedText;

/// The bytes of the record file seen through ReadAheadBuffer.
class RecordReader {
public:
    explicit RecordReader(int fd) : m_fd(fd) {}

    /// The file's bytes from offset, at most n (n <= kReadAheadSize); available
    /// is short only when the file ends or cannot be read.
    const unsigned char* view(std::uint64_t offset, std::size_t n, std::size_t& available)
    {
        if (offset >= m_start && offset - m_start + n <= m_length) {
            available = n;
            return ReadAheadBuffer + (offset - m_start);
        }
        std::size_t kept = 0;
        if (offset >= m_start && offset - m_start < m_length) {
            kept = m_length - static_cast<std::size_t>(offset - m_start);
            std::memmove(ReadAheadBuffer, ReadAheadBuffer + (offset - m_start), kept);
        }
        m_start = offset;
        m_length = kept;
        while (m_length < n) {
            const ssize_t got = ::pread(m_fd, ReadAheadBuffer + m_length, kReadAheadSize - m_length,
                                        static_cast<off_t>(m_start + m_length));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            m_length += static_cast<std::size_t>(got);
        }
        available = std::min(n, m_length);
        return ReadAheadBuffer;
    }

private:
    int m_fd;
    std::uint64_t m_start = 0;
    std::size_t m_length = 0;
};

/// Entries of a record index read a block at a time.
class IndexReader {
public:
    explicit IndexReader(int fd) : m_fd(fd) {}

    /// Entry k (1-based); nothing when the index does not hold it.
    std::optional<std::uint64_t> entry(std::int64_t k)
    {
        if (k < 1)
            return std::nullopt;
        if (k < m_first || k >= m_first + static_cast<std::int64_t>(m_count)) {
            const ssize_t got = readAt(m_fd, IndexBlock, sizeof IndexBlock,
                                       static_cast<off_t>((k - 1) * static_cast<std::int64_t>(kIndexEntrySize)));
            m_first = k;
            m_count = got > 0 ? static_cast<std::size_t>(got) / kIndexEntrySize : 0;
            if (m_count == 0)
                return std::nullopt;
        }
        const unsigned char* bytes = IndexBlock + static_cast<std::size_t>(k - m_first) * kIndexEntrySize;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < kIndexEntrySize; ++i)
            value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
        return value;
    }

private:
    int m_fd;
    std::int64_t m_first = 0;
    std::size_t m_count = 0;
};

constexpr unsigned char foldLower(unsigned char b)
{
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + ('a' - 'A')) : b;
}

/// The byte values a candidate alignment must show at its first and at its
/// last position (one value, or both letter cases).
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
bool hasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();  // may run before the run-time library's own constructors
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

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
    if (count >= 32 && hasAvx2())
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

/// The prepared search pattern of one scan, held in PatternBuffer.
class Pattern {
public:
    Pattern(const char* text, unsigned char subfieldDelimiter, bool caseSensitive) : m_caseSensitive(caseSensitive)
    {
        m_length = text == nullptr ? 0 : ::strnlen(text, kMaxSearchTextLength);
        if (m_length > 0)
            std::memcpy(PatternBuffer, text, m_length);
        PatternBuffer[m_length] = 0;
        // "$a" names subfield a in every delimiter variant; any other '$' is
        // the literal byte.
        for (std::size_t i = 0; i + 1 < m_length; ++i) {
            if (PatternBuffer[i] == '$' && IsAsciiLetterOrDigit(PatternBuffer[i + 1]))
                PatternBuffer[i] = subfieldDelimiter;
        }
        if (!caseSensitive) {
            for (std::size_t i = 0; i < m_length; ++i)
                PatternBuffer[i] = FoldUpper(PatternBuffer[i]);
        }
        if (m_length > 0) {
            const unsigned char first = PatternBuffer[0];
            const unsigned char last = PatternBuffer[m_length - 1];
            m_wholePattern = {first, caseSensitive ? first : foldLower(first), last,
                              caseSensitive ? last : foldLower(last)};
            m_firstByte = {first, m_wholePattern.firstOtherCase, first, m_wholePattern.firstOtherCase};
        }
    }

    [[nodiscard]] bool empty() const { return m_length == 0; }

    /// Whether the pattern lies within the n bytes (the same answer as
    /// comparing it at every alignment).
    [[nodiscard]] bool occursIn(const unsigned char* bytes, std::size_t n) const
    {
        if (m_length > n)
            return false;
        return scanCandidates(bytes, n - m_length + 1, m_length - 1, m_wholePattern,
                              [this, bytes](std::size_t i) { return matchesAt(bytes + i); });
    }

    /// Whether the pattern may start in one of the tags of a directory of n
    /// bytes: the pattern bytes that fall within the tag equal it.
    [[nodiscard]] bool mayStartInTags(const unsigned char* directory, std::size_t n) const
    {
        return scanCandidates(directory, n, 0, m_firstByte, [this, directory](std::size_t i) {
            const std::size_t j = i % kDirectoryEntryLength;
            if (j >= kTagLength)
                return false;
            for (std::size_t t = 0; t < m_length && j + t < kTagLength; ++t) {
                if (fold(directory[i + t]) != PatternBuffer[t])
                    return false;
            }
            return true;
        });
    }

private:
    [[nodiscard]] unsigned char fold(unsigned char b) const { return m_caseSensitive ? b : FoldUpper(b); }

    [[nodiscard]] bool matchesAt(const unsigned char* bytes) const
    {
        for (std::size_t t = 0; t < m_length; ++t) {
            if (fold(bytes[t]) != PatternBuffer[t])
                return false;
        }
        return true;
    }

    std::size_t m_length = 0;
    bool m_caseSensitive;
    CandidateBytes m_wholePattern{};
    CandidateBytes m_firstByte{};
};

std::size_t directoryEntryCount(std::uint32_t base)
{
    return base > kLeaderLength ? (base - kLeaderLength) / kDirectoryEntryLength : 0;
}

/// Whether the pattern may occur in the record: a cheap test that never says
/// no when the full comparison would find it. A match that starts in the field
/// bytes lies in the record's bytes from the base address on; one that starts
/// in a tag agrees with that tag.
bool mayHold(const Pattern& pattern, const unsigned char* record, std::size_t length, std::uint32_t base)
{
    if (base < length && pattern.occursIn(record + base, length - base))
        return true;
    const std::size_t entries = directoryEntryCount(base);
    const std::size_t wholeEntries = length > kLeaderLength ? (length - kLeaderLength) / kDirectoryEntryLength : 0;
    return pattern.mayStartInTags(record + kLeaderLength, std::min(entries, wholeEntries) * kDirectoryEntryLength);
}

/// Assembles the record's tags and fields into FieldBuffer, in directory
/// order, and searches each entry as it is appended. A match lies within one
/// entry's tag and field bytes and never includes the entry's last byte (the
/// field terminator); it may start in the tag.
///
/// Records whose numbers point outside their own bytes are shown as far as
/// those bytes go: a directory entry that does not lie wholly within the record
/// is left out with all entries after it, a field keeps only its bytes that lie
/// within the record (none when it starts beyond the end), and once FieldBuffer
/// is full nothing more is appended. Nothing outside the record's bytes is ever
/// read, so no byte of an earlier record can show.
bool assembleFields(const unsigned char* record, std::size_t length, std::uint32_t base,
                    const Pattern& pattern, std::size_t& used)
{
    used = 0;
    bool found = pattern.empty();
    auto append = [&used](const unsigned char* bytes, std::size_t n) {
        n = std::min(n, kFieldBufferSize - used);
        std::memcpy(FieldBuffer + used, bytes, n);
        used += n;
    };
    const std::size_t entries = directoryEntryCount(base);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t position = kLeaderLength + i * kDirectoryEntryLength;
        if (position + kDirectoryEntryLength > length)
            break;
        const unsigned char* entry = record + position;
        const std::size_t fieldStart = used;
        append(entry, kTagLength);
        const std::size_t fieldLength = ParseDigits(entry + kFieldLengthOffsetInEntry, 4);
        const std::size_t begin = std::size_t{base} + ParseDigits(entry + kFieldStartOffsetInEntry, 5);
        if (begin < length)
            append(record + begin, std::min(fieldLength, length - begin));
        if (!found) {
            const std::size_t searchable = std::min(kTagLength + fieldLength - 1, used - fieldStart);
            found = pattern.occursIn(FieldBuffer + fieldStart, searchable);
        }
    }
    return found;
}

/// Opens the scratch display file, unless it is a file the user cares about:
/// an open record file (through any path or link) or one of the two files of
/// this scan. It is not emptied here: the new text is written over the old one
/// and the file cut to its length, because emptying a file and then writing it
/// makes some file systems flush it to disk at every display.
UniqueFd openScratchDisplayFile(int recordFd, const char* indexFileName)
{
    UniqueFd fd(::open(ScratchDisplayFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fd)
        return fd;
    const std::optional<FileIdentity> scratch = identityOf(fd.get());
    bool refused = !scratch || *scratch == identityOf(recordFd) || *scratch == identityOf(indexFileName);
    for (const OpenRecordFile& file : openRecordFiles())
        refused = refused || file.identity == *scratch;
    if (refused)
        fd.reset();
    return fd;
}

}  // namespace

void RegisterOpenRecordFile(const char* path)
{
    if (const std::optional<FileIdentity> identity = identityOf(path))
        openRecordFiles().push_back({path, *identity});
}

void UnregisterOpenRecordFile(const char* path)
{
    std::vector<OpenRecordFile>& files = openRecordFiles();
    auto it = std::find_if(files.begin(), files.end(), [path](const OpenRecordFile& f) { return f.path == path; });
    if (it == files.end()) {
        const std::optional<FileIdentity> identity = identityOf(path);
        it = std::find_if(files.begin(), files.end(),
                          [&identity](const OpenRecordFile& f) { return identity && f.identity == *identity; });
    }
    if (it != files.end())
        files.erase(it);
}

bool IsOpenRecordFile(const char* path)
{
    const std::optional<FileIdentity> identity = identityOf(path);
    return identity && std::any_of(openRecordFiles().begin(), openRecordFiles().end(),
                                   [&identity](const OpenRecordFile& f) { return f.identity == *identity; });
}

int ScanRecords(UserPrompt& prompt, const char* fileName, const char* indexFileName, int from, int to,
                const char* pattern)
{
    const unsigned char fieldTerminator = FieldTerminator(DelimiterMode);
    const unsigned char subfieldDelimiter = SubfieldDelimiter(DelimiterMode);

    UniqueFd records(::open(fileName, O_RDONLY | O_CLOEXEC));
    if (!records) {
        prompt.showMessage(kInvalidDriveMessage);
        return -1;
    }
    UniqueFd display = openScratchDisplayFile(records.get(), indexFileName);
    if (!display) {
        prompt.showMessage(kDisplayFileMessage);
        return -1;
    }
    UniqueFd index(::open(indexFileName, O_RDONLY | O_CLOEXEC));
    if (!index) {
        ignoreResult(::ftruncate(display.get(), 0));
        prompt.showMessage(kIndexFileMessage);
        return -1;
    }

    const Pattern search(pattern, subfieldDelimiter, SearchCaseSensitive);
    RecordReader reader(records.get());
    IndexReader offsets(index.get());
    // Every record is read at its own offset, so bytes between records (line
    // ends) never end a search early.
    for (std::int64_t number = from; number <= to; ++number) {
        const std::optional<std::uint64_t> offset = offsets.entry(number);
        if (!offset)
            break;
        std::size_t available = 0;
        const unsigned char* record = reader.view(*offset, kLeaderLength, available);
        if (available < kLeaderLength)
            break;
        const std::size_t length = ParseDigits(record + kRecordLengthOffset, 5);
        if (length < kLeaderLength)
            break;
        record = reader.view(*offset, length, available);
        if (available < length)
            break;
        const std::uint32_t base = ParseDigits(record + kBaseAddressOffset, 5);
        if (!search.empty() && !mayHold(search, record, length, base))
            continue;
        std::size_t used = 0;
        if (!assembleFields(record, length, base, search, used))
            continue;

        RenderedText.clear();
        RenderDisplayText(RenderedText, FieldBuffer, used, fieldTerminator, subfieldDelimiter);
        const std::string_view text = RenderedText.text();
        // Half a display would pass for the whole record: a failed write
        // leaves the scratch file empty, as after any other failure.
        const bool written = writeAll(display.get(), text.data(), text.size()) &&
                             ::ftruncate(display.get(), static_cast<off_t>(text.size())) == 0;
        if (!written)
            ignoreResult(::ftruncate(display.get(), 0));
        const bool closed = display.reset();
        if (written && !closed)
            ignoreResult(::truncate(ScratchDisplayFile.c_str(), 0));
        if (!written || !closed) {
            prompt.showMessage(kDisplayFileMessage);
            return -1;
        }
        return static_cast<int>(number);
    }
    // Nothing rendered: the scratch file holds no record.
    ignoreResult(::ftruncate(display.get(), 0));
    return -1;
}

}  // namespace veltrane

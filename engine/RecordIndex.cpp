#include "RecordIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "RecordLayout.h"

namespace veltrane {

namespace {

std::string temporaryDirectory()
{
    for (const char* name : {"TMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return "/tmp";
}

// The scan's memory is these two buffers, whatever the size of the file.
unsigned char g_readBlock[kIndexReadBlockSize];
constexpr std::size_t kIndexWriteBufferSize = 64 * 1024;
unsigned char g_writeBuffer[kIndexWriteBufferSize];

// True when any of the eight bytes of word is an ASCII digit: each byte is
// tested for 0x2F < b < 0x3A on its own, with no carry between bytes.
constexpr bool wordHasDigit(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kLow7 = kOnes * 0x7F;
    constexpr std::uint64_t kHigh = kOnes * 0x80;
    constexpr std::uint64_t kBelow = '0' - 1;
    constexpr std::uint64_t kAbove = '9' + 1;
    const std::uint64_t low = word & kLow7;
    return ((kOnes * (127 + kAbove) - low) & ~word & (low + kOnes * (127 - kBelow)) & kHigh) != 0;
}

std::uint64_t loadWord(const unsigned char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

/// A window onto the record file, filled by large sequential reads into the
/// fixed read block. Positions only move forward.
class RecordReader {
public:
    RecordReader(int fd, std::size_t blockSize) : m_fd(fd), m_blockSize(blockSize) {}

    /// Makes up to `need` bytes from `offset` available; returns how many are
    /// (fewer only at the end of the file), or -1 on a read error.
    [[nodiscard]] std::int64_t ensure(std::uint64_t offset, std::size_t need)
    {
        if (offset >= m_start && offset + need <= end())
            return static_cast<std::int64_t>(need);
        std::size_t kept = 0;
        if (offset >= m_start && offset < end()) {
            kept = static_cast<std::size_t>(end() - offset);
            std::memmove(g_readBlock, g_readBlock + (offset - m_start), kept);
        }
        m_start = offset;
        m_length = kept;
        while (m_length < m_blockSize) {
            ssize_t n = ::pread(m_fd, g_readBlock + m_length, m_blockSize - m_length,
                                static_cast<off_t>(m_start + m_length));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            m_length += static_cast<std::size_t>(n);
        }
        return static_cast<std::int64_t>(std::min(need, m_length));
    }

    [[nodiscard]] const unsigned char* at(std::uint64_t offset) const { return g_readBlock + (offset - m_start); }

    /// Moves offset past bytes that are not ASCII digits: to the first digit, or
    /// as far as the file goes. An offset already past the end stays put.
    /// Returns false on a read error.
    [[nodiscard]] bool skipNonDigits(std::uint64_t& offset)
    {
        for (;;) {
            if (offset >= end())
                offset = pastHole(offset);
            std::int64_t available = ensure(offset, 1);
            if (available < 0)
                return false;
            if (available == 0)
                return true;
            const unsigned char* p = at(offset);
            const unsigned char* stop = g_readBlock + m_length;
            // Separators are usually none or a line end; long runs (a hole of
            // zero bytes) are passed a word at a time.
            while (p < stop && !IsAsciiDigit(*p)) {
                ++p;
                while (stop - p >= 8 && !wordHasDigit(loadWord(p)))
                    p += 8;
            }
            offset = m_start + static_cast<std::uint64_t>(p - g_readBlock);
            if (p < stop)
                return true;
        }
    }

private:
    [[nodiscard]] std::uint64_t end() const { return m_start + m_length; }

    // A hole in a sparse file reads as zero bytes, all separators: jump over it
    // instead of reading it. Where holes cannot be found, nothing is skipped.
    [[nodiscard]] std::uint64_t pastHole(std::uint64_t offset) const
    {
        off_t data = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0 && errno == ENXIO)  // no data from offset on: a hole up to the end
            data = ::lseek(m_fd, 0, SEEK_END);
        return data < 0 ? offset : std::max(offset, static_cast<std::uint64_t>(data));
    }

    int m_fd;
    std::size_t m_blockSize;
    std::uint64_t m_start = 0;
    std::size_t m_length = 0;
};

/// Index entries gathered in the fixed write buffer; every write is checked.
class IndexWriter {
public:
    explicit IndexWriter(int fd) : m_fd(fd) {}

    [[nodiscard]] bool append(std::uint64_t offset)
    {
        if (m_used + kIndexEntrySize > kIndexWriteBufferSize && !flush())
            return false;
        for (std::size_t i = 0; i < kIndexEntrySize; ++i)
            g_writeBuffer[m_used++] = static_cast<unsigned char>(offset >> (8 * i));
        return true;
    }

    [[nodiscard]] bool flush()
    {
        std::size_t written = 0;
        while (written < m_used) {
            ssize_t n = ::write(m_fd, g_writeBuffer + written, m_used - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            written += static_cast<std::size_t>(n);
        }
        m_used = 0;
        return true;
    }

private:
    int m_fd;
    std::size_t m_used = 0;
};

// Removes a partial index, but only the regular file that was opened: a device
// or a file put under the name since must not be deleted.
void removePartialIndex(const struct stat& opened, const char* indexFileName)
{
    struct stat named {};
    if (S_ISREG(opened.st_mode) && ::lstat(indexFileName, &named) == 0 && named.st_dev == opened.st_dev
        && named.st_ino == opened.st_ino)
        ::unlink(indexFileName);
}

enum class ScanResult { Done, ReadFailed, WriteFailed };

ScanResult scanRecords(RecordReader& reader, IndexWriter& writer, int& count)
{
    std::uint64_t offset = 0;
    count = 0;
    for (;;) {
        std::int64_t available = reader.ensure(offset, kLeaderLength);
        if (available < 0)
            return ScanResult::ReadFailed;
        // Every position examined is written, so the last entry is where the
        // scan stopped: the end sentinel.
        if (!writer.append(offset))
            return ScanResult::WriteFailed;
        if (available < static_cast<std::int64_t>(kLeaderLength))
            return ScanResult::Done;
        std::uint32_t length = ParseDigits(reader.at(offset), 5);
        // A length of 24 or less is no record; record numbers stay within int.
        if (length <= kLeaderLength || count == INT_MAX)
            return ScanResult::Done;
        offset += length;
        if (!reader.skipNonDigits(offset))
            return ScanResult::ReadFailed;
        ++count;
    }
}

}  // namespace

std::optional<std::string> CreateIndexName(UserPrompt& prompt)
{
    std::string directory = temporaryDirectory();
    if (directory.back() != '/')
        directory += '/';
    // Creating the file with the name, exclusively and without following links,
    // keeps another process from planting a file or link under it.
    constexpr unsigned kMaxCounter = 1'000'000;
    for (unsigned counter = 0; counter < kMaxCounter; ++counter) {
        std::string name = directory + "idx" + std::to_string(counter);
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    prompt.showMessage("tempnam couldn't create name");
    return std::nullopt;
}

int BuildRecordIndex(const char* fileName, const char* indexFileName)
{
    return BuildRecordIndex(fileName, indexFileName, kIndexReadBlockSize);
}

int BuildRecordIndex(const char* fileName, const char* indexFileName, std::size_t blockSize)
{
    blockSize = std::clamp(blockSize, kLeaderLength, kIndexReadBlockSize);
    // O_NONBLOCK: a FIFO under either name fails instead of hanging the caller.
    int recordFd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (recordFd < 0)
        return -1;
    int indexFd = ::open(indexFileName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (indexFd < 0) {
        ::close(recordFd);
        return -1;
    }
    struct stat opened {};
    bool ok = ::fstat(indexFd, &opened) == 0;
    RecordReader reader(recordFd, blockSize);
    IndexWriter writer(indexFd);
    int count = 0;
    // A read error fails too: a short index would hide records.
    ok = ok && scanRecords(reader, writer, count) == ScanResult::Done && writer.flush();
    ::close(recordFd);
    // Close reports a deferred write failure (a full disk on some file systems).
    ok = ::close(indexFd) == 0 && ok;
    if (!ok) {
        removePartialIndex(opened, indexFileName);
        return -1;
    }
    return count;
}

std::optional<std::uint64_t> ReadIndexEntry(const char* indexFileName, std::int64_t k)
{
    if (k < 1 || k > INT64_MAX / static_cast<std::int64_t>(kIndexEntrySize))
        return std::nullopt;
    int fd = ::open(indexFileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    unsigned char entry[kIndexEntrySize];
    ssize_t n = ::pread(fd, entry, sizeof entry, static_cast<off_t>((k - 1) * kIndexEntrySize));
    ::close(fd);
    if (n != static_cast<ssize_t>(sizeof entry))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kIndexEntrySize; ++i)
        value |= static_cast<std::uint64_t>(entry[i]) << (8 * i);
    return value;
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "iso2709/RecordStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "iso2709/RecordLayout.h"

namespace veltrane {

namespace {

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

}  // namespace

RecordStream::RecordStream(int fd, std::size_t blockSize)
    : m_fd(fd),
      m_blockSize(std::clamp(blockSize, kLeaderLength, kDefaultBlockSize)),
      m_capacity(blockCapacity(blockSize)),
      m_ownBlock(new unsigned char[m_capacity]),
      m_block(m_ownBlock.get())
{
}

RecordStream::RecordStream(int fd, std::size_t blockSize, BlockLender& lender)
    : m_fd(fd),
      m_blockSize(std::clamp(blockSize, kLeaderLength, kDefaultBlockSize)),
      m_capacity(blockCapacity(blockSize)),
      m_lender(&lender)
{
}

RecordStream::RecordStream(int fd, ChunkSource& source)
    : m_fd(fd), m_blockSize(kDefaultBlockSize), m_capacity(0), m_source(&source)
{
}

std::size_t RecordStream::blockCapacity(std::size_t blockSize)
{
    return std::max(std::clamp(blockSize, kLeaderLength, kDefaultBlockSize), kRecordBufferSize);
}

std::int64_t RecordStream::ensure(std::uint64_t offset, std::size_t need)
{
    if (offset >= m_start && offset + need <= end())
        return static_cast<std::int64_t>(need);
    if (m_source != nullptr)
        return ensureFromSource(offset, need);
    std::size_t kept = 0;
    const bool keep = offset >= m_start && offset < end();
    if (keep)
        kept = static_cast<std::size_t>(end() - offset);
    if (m_lender != nullptr) {
        unsigned char* fresh = m_lender->freshBlock();
        if (keep)
            std::memcpy(fresh, at(offset), kept);
        if (m_block != nullptr)
            m_lender->leftBlock(m_block);
        m_block = fresh;
    } else if (keep) {
        std::memmove(m_block, at(offset), kept);
    }
    m_start = offset;
    m_length = kept;
    const std::size_t wanted = std::max(m_blockSize, need);
    while (m_length < wanted) {
        const ssize_t n = ::pread(m_fd, m_block + m_length, wanted - m_length,
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

// The bytes from offset on that the current chunk holds move in front of the
// next chunk, until need bytes lie together or the file ends.
std::int64_t RecordStream::ensureFromSource(std::uint64_t offset, std::size_t need)
{
    const bool keep = offset >= m_start && offset < end();
    std::size_t kept = keep ? static_cast<std::size_t>(end() - offset) : 0;
    const unsigned char* keptBytes = keep ? at(offset) : nullptr;
    for (;;) {
        const ChunkSource::Chunk chunk = m_source->chunkAt(offset + kept);
        if (chunk.failed)
            return -1;
        if (chunk.length == 0 && kept > 0)
            return static_cast<std::int64_t>(kept);  // the file ends: the kept bytes are all there is
        if (kept > 0)
            std::memmove(chunk.data - kept, keptBytes, kept);
        m_block = chunk.data - kept;
        m_start = offset;
        m_length = kept + chunk.length;
        if (m_length >= need || chunk.length == 0)
            return static_cast<std::int64_t>(std::min(need, m_length));
        kept = m_length;
        keptBytes = m_block;
    }
}

bool RecordStream::skipNonDigits(std::uint64_t& offset)
{
    m_skippedLineEnds = true;
    auto lineEnd = [](unsigned char b) { return b == '\r' || b == '\n'; };
    for (;;) {
        if (offset >= end()) {
            const std::uint64_t past = pastHole(offset);
            m_skippedLineEnds = m_skippedLineEnds && past == offset;
            offset = past;
        }
        const std::int64_t available = ensure(offset, 1);
        if (available < 0)
            return false;
        if (available == 0)
            return true;
        const unsigned char* p = at(offset);
        const unsigned char* stop = m_block + m_length;
        // Separators are usually none or a line end; long runs (a hole of
        // zero bytes) are passed a word at a time.
        while (p < stop && !IsAsciiDigit(*p)) {
            m_skippedLineEnds = m_skippedLineEnds && lineEnd(*p);
            ++p;
            while (stop - p >= 8 && !wordHasDigit(loadWord(p))) {
                m_skippedLineEnds = m_skippedLineEnds && std::all_of(p, p + 8, lineEnd);
                p += 8;
            }
        }
        offset = m_start + static_cast<std::uint64_t>(p - m_block);
        if (p < stop)
            return true;
    }
}

// A hole in a sparse file reads as zero bytes, all separators: jump over it
// instead of reading it. Where holes cannot be found, nothing is skipped.
std::uint64_t RecordStream::pastHole(std::uint64_t offset) const
{
    off_t data = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0 && errno == ENXIO)  // no data from offset on: a hole up to the end
        data = ::lseek(m_fd, 0, SEEK_END);
    return data < 0 ? offset : std::max(offset, static_cast<std::uint64_t>(data));
}

RecordStream::Step RecordStream::next(FramedRecord& record, bool withBytes)
{
    if (m_ended)
        return Step::End;
    std::uint64_t separator = 0;
    if (m_pendingSkip) {
        const std::uint64_t before = m_offset;
        if (!skipNonDigits(m_offset))
            return Step::ReadError;
        separator = m_offset - before;
        m_pendingSkip = false;
    }
    const std::int64_t available = ensure(m_offset, kLeaderLength);
    if (available < 0)
        return Step::ReadError;
    if (available < static_cast<std::int64_t>(kLeaderLength)) {
        m_ended = true;
        return Step::End;
    }
    const std::uint32_t length = ParseDigits(at(m_offset), 5);
    // A length of 24 or less is no record; record numbers stay within int.
    if (length <= kLeaderLength || m_count == INT_MAX) {
        m_ended = true;
        return Step::End;
    }
    record.number = ++m_count;
    record.offset = m_offset;
    record.declaredLength = length;
    record.separatorBefore = separator;
    record.separatorLineEnds = separator == 0 || m_skippedLineEnds;
    record.bytes = {};
    if (withBytes) {
        const std::int64_t got = ensure(m_offset, length);
        if (got < 0)
            return Step::ReadError;
        record.bytes = {at(m_offset), static_cast<std::size_t>(got)};
    }
    m_offset += length;
    m_pendingSkip = true;
    return Step::Record;
}

}  // namespace veltrane

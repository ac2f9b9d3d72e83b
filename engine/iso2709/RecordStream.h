// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace veltrane {

/// One record as the stream framed it.
struct FramedRecord {
    std::int64_t number = 0;          ///< 1-based, as count and show number records
    std::uint64_t offset = 0;         ///< of its first byte in the file
    std::uint32_t declaredLength = 0; ///< the leader's record length (more than 24)
    /// Its bytes as the file holds them: declaredLength bytes, fewer only when
    /// the file ends inside it (empty when the bytes were not asked for).
    std::span<const unsigned char> bytes;
    std::uint64_t separatorBefore = 0; ///< bytes skipped between the previous record and this one
    bool separatorLineEnds = true;     ///< those bytes are all CR and LF (or none)
};

/// Blocks for a stream to read into, from whoever reads the records framed in
/// them: a stream that takes its blocks from a lender never writes a block
/// again once it has moved on, so the records framed in it stay readable (on
/// any thread) until the lender hands the block out again.
class BlockLender {
public:
    virtual ~BlockLender() = default;
    /// A block of RecordStream::blockCapacity() bytes that nobody reads any more.
    virtual unsigned char* freshBlock() = 0;
    /// The stream has moved on from block (after copying the unread bytes
    /// at its end into the fresh one): every record in it is framed.
    virtual void leftBlock(unsigned char* block) = 0;
};

/// File bytes read ahead of a stream, in order, by whoever owns the source
/// (a thread of its own, say): the stream frames records in them where they
/// lie instead of reading the file itself.
class ChunkSource {
public:
    struct Chunk {
        /// The file's bytes from the asked offset on, with kRecordBufferSize
        /// bytes before them the stream may write (the unread bytes of the
        /// previous chunk go there, so that a record crossing into this chunk
        /// lies whole in it).
        unsigned char* data = nullptr;
        std::size_t length = 0;  ///< 0: the file ends at the offset
        bool failed = false;     ///< the file could not be read there
    };
    virtual ~ChunkSource() = default;
    /// The bytes from offset on, never before the offset last asked for.
    /// A chunk stays as it is until its owner is told it is no longer read.
    virtual Chunk chunkAt(std::uint64_t offset) = 0;
};

/// Reads a record file front to back and frames its records as the record
/// index does: a record starts where its leader's five length digits stand;
/// after it, bytes that are not ASCII digits (line ends, junk) are skipped; a
/// length of 24 or less, or fewer than 24 bytes left, ends the file. Memory is
/// one block, whatever the size of the file.
class RecordStream {
public:
    enum class Step { Record, End, ReadError };

    /// Reads fd (not owned) from offset 0, `blockSize` bytes at a time
    /// (clamped to 24 .. 1 MiB; a whole record always fits).
    explicit RecordStream(int fd, std::size_t blockSize = kDefaultBlockSize);
    /// Reads into blocks of `lender` (not owned) instead of one of its own.
    RecordStream(int fd, std::size_t blockSize, BlockLender& lender);
    /// Frames records in the chunks of `source` (not owned), which reads fd.
    RecordStream(int fd, ChunkSource& source);

    /// The bytes of each block a stream reads `blockSize` bytes at a time uses.
    [[nodiscard]] static std::size_t blockCapacity(std::size_t blockSize);

    /// Frames from offset on (a record's first byte, before the first next()),
    /// numbering the record there recordsBefore + 1.
    void startAt(std::uint64_t offset, std::int64_t recordsBefore)
    {
        m_offset = offset;
        m_count = recordsBefore;
    }

    /// Frames the next record; with withBytes, its bytes are made available
    /// until the next call. End: no record from position() on (the index's end
    /// sentinel). ReadError: the file could not be read.
    [[nodiscard]] Step next(FramedRecord& record, bool withBytes = true);

    /// Where the next record would start: after End, where the scan stopped.
    [[nodiscard]] std::uint64_t position() const { return m_offset; }
    /// Records framed so far.
    [[nodiscard]] std::int64_t count() const { return m_count; }
    /// Whether the bytes last skipped after a record were all CR and LF (or
    /// none): after End, those before position().
    [[nodiscard]] bool skippedLineEnds() const { return m_skippedLineEnds; }

    static constexpr std::size_t kDefaultBlockSize = 1024 * 1024;

private:
    [[nodiscard]] std::int64_t ensure(std::uint64_t offset, std::size_t need);
    [[nodiscard]] std::int64_t ensureFromSource(std::uint64_t offset, std::size_t need);
    [[nodiscard]] const unsigned char* at(std::uint64_t offset) const { return m_block + (offset - m_start); }
    [[nodiscard]] bool skipNonDigits(std::uint64_t& offset);
    [[nodiscard]] std::uint64_t end() const { return m_start + m_length; }
    [[nodiscard]] std::uint64_t pastHole(std::uint64_t offset) const;

    int m_fd;
    std::size_t m_blockSize;
    std::size_t m_capacity;
    std::unique_ptr<unsigned char[]> m_ownBlock;
    BlockLender* m_lender = nullptr;
    ChunkSource* m_source = nullptr;
    unsigned char* m_block = nullptr;  ///< the own block or the lender's current one
    std::uint64_t m_start = 0;
    std::size_t m_length = 0;
    std::uint64_t m_offset = 0;
    std::int64_t m_count = 0;
    bool m_pendingSkip = false;
    bool m_skippedLineEnds = true;
    bool m_ended = false;
};

}  // namespace veltrane

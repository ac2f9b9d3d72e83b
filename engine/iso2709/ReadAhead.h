// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "iso2709/RecordStream.h"

namespace veltrane {

/// Reads a file in order on a thread of its own, a few chunks ahead of the
/// stream that frames records in them, so that reading and whatever is done
/// with the records run side by side. The thread does nothing but read.
///
/// Chunks are numbered in the order they are handed out (taken()); a chunk
/// stays as it is until release() says the records in it are done with.
class ReadAhead final : public ChunkSource {
public:
    /// Starts reading fd (not owned) at offset; throws std::system_error when
    /// no thread can be had.
    ReadAhead(int fd, std::uint64_t offset);
    ~ReadAhead() override;

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    Chunk chunkAt(std::uint64_t offset) override;

    /// Chunks handed out so far: the stream reads the last of them.
    [[nodiscard]] std::size_t taken() const { return m_taken; }
    /// The last chunk handed out, as chunkAt gave it.
    [[nodiscard]] const Chunk& current() const { return m_current; }
    /// The chunks before `chunk` (by the numbering of taken()) are no longer
    /// read: they may be read into again.
    void release(std::size_t chunk);

    static constexpr std::size_t kChunkSize = 256 * 1024;
    static constexpr std::size_t kChunks = 8;

private:
    struct Slot {
        std::unique_ptr<unsigned char[]> buffer;  ///< kRecordBufferSize bytes for the stream, then the chunk
        std::uint64_t offset = 0;
        std::size_t length = 0;
        bool failed = false;
        [[nodiscard]] unsigned char* data() const;
    };

    void read();
    /// Waits until done() holds: a short spin first, as the other thread is
    /// usually about to make it hold, then asleep.
    template <typename Done>
    void waitUntil(Done done);
    void wake();
    /// Drops what was read ahead and reads from offset on instead.
    void restartAt(std::uint64_t offset);

    int m_fd;
    Slot m_slots[kChunks];
    std::size_t m_taken = 0;               ///< touched by the stream's thread only
    Chunk m_current;                       ///< likewise
    std::atomic<std::size_t> m_filled = 0;   ///< chunks read (the reader's count)
    std::atomic<std::size_t> m_released = 0; ///< chunks before this one may be read into again
    std::atomic<std::uint64_t> m_generation = 0;
    std::uint64_t m_restartOffset = 0;     ///< under m_mutex
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_sleepers = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
    std::uint64_t m_startOffset;
};

}  // namespace veltrane

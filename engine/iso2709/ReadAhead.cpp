// SPDX-License-Identifier: Apache-2.0
#include "iso2709/ReadAhead.h"

#include <unistd.h>

#include <cerrno>

#include "iso2709/RecordLayout.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace veltrane {

namespace {

// About as long as a chunk takes to read or to search: the other thread is
// usually that close to handing one over, and a sleep and a wake-up cost more.
constexpr int kSpins = 4000;

void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

}  // namespace

unsigned char* ReadAhead::Slot::data() const
{
    return buffer.get() + kRecordBufferSize;
}

ReadAhead::ReadAhead(int fd, std::uint64_t offset) : m_fd(fd), m_startOffset(offset)
{
    for (Slot& slot : m_slots)
        slot.buffer.reset(new unsigned char[kRecordBufferSize + kChunkSize]);
    m_thread = std::thread([this] { read(); });
}

ReadAhead::~ReadAhead()
{
    m_stopping = true;
    {
        std::lock_guard lock(m_mutex);
    }
    m_changed.notify_all();
    m_thread.join();
}

template <typename Done>
void ReadAhead::waitUntil(Done done)
{
    for (int i = 0; i < kSpins; ++i) {
        if (done())
            return;
        relax();
    }
    std::unique_lock lock(m_mutex);
    ++m_sleepers;
    m_changed.wait(lock, done);
    --m_sleepers;
}

void ReadAhead::wake()
{
    // A sleeper counts itself under the lock before it looks: either it sees
    // what changed, or it is counted here and woken.
    if (m_sleepers.load() > 0) {
        {
            std::lock_guard lock(m_mutex);
        }
        m_changed.notify_all();
    }
}

void ReadAhead::read()
{
    std::uint64_t generation = 0;
    std::uint64_t offset = m_startOffset;
    std::size_t index = 0;
    bool ended = false;  // the last chunk read was the file's end or a failure
    while (!m_stopping) {
        waitUntil([&] {
            return m_stopping || m_generation != generation || (!ended && index - m_released < kChunks);
        });
        if (m_stopping)
            return;
        if (m_generation != generation) {
            std::lock_guard lock(m_mutex);
            generation = m_generation;
            offset = m_restartOffset;
            index = m_filled;
            ended = false;
            continue;
        }
        Slot& slot = m_slots[index % kChunks];
        std::size_t length = 0;
        bool failed = false;
        while (length < kChunkSize) {
            const ssize_t n = ::pread(m_fd, slot.data() + length, kChunkSize - length, static_cast<off_t>(offset + length));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed = n < 0;
                break;
            }
            length += static_cast<std::size_t>(n);
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_generation != generation)
                continue;  // read for nothing: the stream has moved elsewhere
            slot.offset = offset;
            slot.length = length;
            slot.failed = failed;
            m_filled = index + 1;
        }
        wake();
        ++index;
        offset += length;
        ended = failed || length == 0;
    }
}

void ReadAhead::restartAt(std::uint64_t offset)
{
    {
        std::lock_guard lock(m_mutex);
        m_restartOffset = offset;
        m_filled = m_taken;
        ++m_generation;
    }
    m_changed.notify_all();
}

void ReadAhead::release(std::size_t chunk)
{
    if (chunk <= m_released)
        return;
    m_released = chunk;
    wake();
}

ChunkSource::Chunk ReadAhead::chunkAt(std::uint64_t offset)
{
    for (;;) {
        waitUntil([&] { return m_filled > m_taken; });
        const Slot& slot = m_slots[m_taken % kChunks];
        if (slot.failed)
            return {slot.data(), 0, true};
        const std::uint64_t end = slot.offset + slot.length;
        if (offset < slot.offset) {
            restartAt(offset);
            continue;
        }
        if (slot.length == 0)
            return {slot.data(), 0, false};  // the file ends before offset
        if (offset < end) {
            ++m_taken;
            m_current = {slot.data() + (offset - slot.offset), static_cast<std::size_t>(end - offset), false};
            return m_current;
        }
        // Past this chunk: a short way is read through, a long one (a hole
        // in a sparse file) jumped.
        if (offset - end > kChunks * kChunkSize) {
            restartAt(offset);
            continue;
        }
        ++m_taken;
    }
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "common/Outcome.h"
#include "common/WorkMonitor.h"
#include "iso2709/RecordStream.h"

namespace veltrane {

/// Threads that work on a file's records where the stream read them: at most
/// one a core, at most `most`.
[[nodiscard]] inline int DefaultWorkerCount(int most)
{
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(std::max(most, 1))));
}

/// Lends a RecordStream its blocks, one batch each. Once the stream has moved
/// on from a block, a worker thread does `work` with its batch where the bytes
/// lie (the file is read once and nothing is copied); the batches are given
/// back to `take`, on the stream's thread, in the order the stream left their
/// blocks. A block is lent again only after its batch has been given back.
///
/// Batch has a `std::unique_ptr<unsigned char[]> bytes` (the block) and a
/// `clear()` that readies it for the next block.
template <typename Batch>
class BatchWorkers final : public BlockLender {
public:
    /// `worker` numbers the thread from 0 to workers - 1: whatever it keeps
    /// from batch to batch is its own.
    using Work = std::function<void(Batch& batch, std::size_t worker)>;
    using Take = std::function<void(Batch& batch)>;

    BatchWorkers(int workers, std::size_t blockCapacity, Work work, Take take)
        : m_work(std::move(work)), m_take(std::move(take)), m_slots(static_cast<std::size_t>(workers) * 3)
    {
        for (Slot& slot : m_slots)
            slot.batch.bytes.reset(new unsigned char[blockCapacity]);
        for (std::size_t worker = 0; worker < static_cast<std::size_t>(workers); ++worker)
            m_threads.emplace_back([this, worker] { run(worker); });
    }

    ~BatchWorkers() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_queued.notify_all();
        m_threads.clear();  // joins
    }

    BatchWorkers(const BatchWorkers&) = delete;
    BatchWorkers& operator=(const BatchWorkers&) = delete;

    /// The batch of the stream's current block.
    Batch& current() { return m_slots[m_next % m_slots.size()].batch; }

    unsigned char* freshBlock() override
    {
        if (!m_lent) {
            m_lent = true;
            return current().bytes.get();
        }
        // The next slot's batch is given back first when it is still out.
        if (m_next + 1 - m_taken == m_slots.size())
            takeOldest();
        Slot& next = m_slots[(m_next + 1) % m_slots.size()];
        next.batch.clear();
        next.done = false;
        return next.batch.bytes.get();
    }

    void leftBlock(unsigned char*) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(&m_slots[m_next % m_slots.size()]);
        }
        m_queued.notify_one();
        ++m_next;
    }

    /// Hands in the current batch and gives every batch back, in order.
    void finish()
    {
        if (m_lent)
            leftBlock(current().bytes.get());
        while (m_taken < m_next)
            takeOldest();
    }

private:
    struct Slot {
        Batch batch;
        bool done = false;  ///< under m_mutex
    };

    void takeOldest()
    {
        Slot& slot = m_slots[m_taken % m_slots.size()];
        {
            std::unique_lock lock(m_mutex);
            m_finished.wait(lock, [&] { return slot.done; });
        }
        m_take(slot.batch);
        ++m_taken;
    }

    void run(std::size_t worker)
    {
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_queued.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                slot = m_queue.front();
                m_queue.pop_front();
            }
            m_work(slot->batch, worker);
            {
                std::lock_guard lock(m_mutex);
                slot->done = true;
            }
            m_finished.notify_one();
        }
    }

    Work m_work;
    Take m_take;
    std::vector<Slot> m_slots;
    bool m_lent = false;      ///< the stream has its first block
    std::size_t m_next = 0;   ///< batches handed in
    std::size_t m_taken = 0;  ///< batches given back
    std::mutex m_mutex;
    std::condition_variable m_queued, m_finished;
    std::deque<Slot*> m_queue;
    bool m_stopping = false;
    std::vector<std::jthread> m_threads;  ///< last: joined before the rest goes
};

/// Where one record the stream framed lies in its batch's block.
struct BatchedRecord {
    std::size_t at = 0, size = 0;  ///< where its bytes are in the block
    std::uint32_t declaredLength = 0;
};

/// How a pass over records ended: Done, Cancelled, FileError (the file could
/// not be read); the records the stream framed, those before `from` included;
/// the file's size in bytes (0 when it is no regular file).
struct RecordPass {
    Outcome outcome = Outcome::Done;
    std::int64_t framed = 0;
    std::uint64_t fileSize = 0;
};

/// Frames records `from` to `to` (1-based, inclusive) of the record file fd
/// (not owned) on the calling thread, as the index does, and has each one
/// worked on by `perRecord(batch, bytes, declaredLength, worker)`. With more
/// than one worker (0: one a core, at most two) that happens on a BatchWorkers
/// thread where the stream read the record, `batch` being its block's; with
/// one, on the calling thread between reads, `batch` being one of the pass's
/// own. `take(batch)` gets each batch back on the calling thread in file
/// order: a lent one once its records are done, the pass's own at each
/// progress report and at the end (cleared after each). Reports the bytes
/// framed against the file's size; a stop asked for at any time, even after
/// the last record, ends it Cancelled.
///
/// Batch is as BatchWorkers wants it, with a `std::vector<BatchedRecord>
/// records` that its clear() empties.
template <typename Batch, typename PerRecord, typename Take>
[[nodiscard]] RecordPass PassRecordsInBatches(int fd, std::int64_t from, std::int64_t to, int workers,
                                              const WorkMonitor& monitor, PerRecord perRecord, Take take)
{
    if (workers <= 0)
        workers = DefaultWorkerCount(2);
    std::optional<BatchWorkers<Batch>> pool;
    if (workers > 1)
        pool.emplace(workers, RecordStream::blockCapacity(RecordStream::kDefaultBlockSize),
                     [&](Batch& batch, std::size_t worker) {
                         const unsigned char* const block = batch.bytes.get();
                         for (std::size_t i = 0; i < batch.records.size(); ++i) {
                             // The next record's bytes are on their way while this one is worked on.
                             if (i + 1 < batch.records.size())
                                 for (std::size_t at = 0; at < batch.records[i + 1].size; at += 64)
                                     __builtin_prefetch(block + batch.records[i + 1].at + at);
                             const BatchedRecord& r = batch.records[i];
                             perRecord(batch, std::span<const unsigned char>(block + r.at, r.size), r.declaredLength, worker);
                         }
                     },
                     [&](Batch& batch) { take(batch); });
    RecordStream stream = pool ? RecordStream(fd, RecordStream::kDefaultBlockSize, *pool) : RecordStream(fd);
    Batch own;
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
            if (!pool) {
                take(own);
                own.clear();
            }
        }
        if (!wanted)
            continue;
        if (pool) {
            Batch& batch = pool->current();
            batch.records.push_back({static_cast<std::size_t>(record.bytes.data() - batch.bytes.get()),
                                     record.bytes.size(), record.declaredLength});
        } else {
            perRecord(own, record.bytes, record.declaredLength, std::size_t{0});
        }
    }
    if (pool)
        pool->finish();
    else
        take(own);
    // A stop asked for after the last check still ends the work as
    // cancelled: whoever asked wants nothing of it.
    if (outcome == Outcome::Done && monitor.stopRequested())
        outcome = Outcome::Cancelled;
    return {outcome, stream.count(), total};
}

}  // namespace veltrane

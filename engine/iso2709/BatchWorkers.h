// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "check/CheckWorkers.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "check/CheckFraming.h"
#include "check/RecordChecker.h"

namespace veltrane::check {

namespace {

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
                         JunkDescription(r.junkFrom, r.junkBytes, before)});
                }
            }
            if (!r.checked)
                continue;
            framed.number = r.number;
            framed.offset = r.offset;
            framed.declaredLength = r.declaredLength;
            framed.bytes = {batch.bytes.get() + r.at, r.size};
            CheckOne(framed, m_options, fields, codec, batch.problems, scratch, controlNumber, true);
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

}  // namespace

CheckResult CheckOnWorkers(int fd, std::uint64_t size, const CheckOptions& options, const WorkMonitor& monitor,
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
    const FramingEnd end = FrameRecords(stream, size, monitor, result, [&](const FramedRecord& framed) {
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
        TellTail(fd, size, options, stream, previousEnd, lastControlNumber, tell);
    return result;
}

}  // namespace veltrane::check

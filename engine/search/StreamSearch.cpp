// SPDX-License-Identifier: Apache-2.0
#include "search/StreamSearch.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "iso2709/RecordStream.h"
#include "search/BlockSearch.h"
#include "search/QueryMatcher.h"

namespace veltrane {

namespace {

// A block is searched while the next is read: small enough to stay in the
// processor's cache between the two threads, large enough that the handing
// over costs little against the reading.
constexpr std::size_t kSearchBlockSize = 256 * 1024;
constexpr std::size_t kBlocksInFlight = 4;

/// One record as the stream framed it, kept until its block is searched.
struct BlockRecord {
    std::int64_t number = 0;
    std::uint64_t offset = 0;
    std::uint32_t declaredLength = 0;
    bool withBytes = false;
    RecordInBlock place;
};

/// What each record goes through, on whichever path: progress and cancel by
/// its offset, the range, a record cut short, then the match.
class RecordVisitor {
public:
    RecordVisitor(const SearchRange& range, const SearchQuery& query, const WorkMonitor& monitor,
                  std::uint64_t total, const FoundCallback& onFound)
        : m_range(range), m_matcher(query), m_monitor(monitor), m_total(total), m_onFound(onFound)
    {
    }

    [[nodiscard]] const QueryMatcher& matcher() const { return m_matcher; }

    /// Nothing while the search goes on; how it ended otherwise. A record
    /// that may hold the query is matched only when mayHold says so.
    [[nodiscard]] std::optional<SearchEnd> visit(std::int64_t number, std::uint64_t offset,
                                                 std::uint32_t declaredLength,
                                                 std::span<const unsigned char> bytes, bool mayHold)
    {
        if (offset >= m_reported + m_monitor.interval) {
            if (m_monitor.stopRequested())
                return SearchEnd{Outcome::Cancelled, number};
            m_reported = offset;
            m_monitor.report(std::min(m_reported, m_total), m_total);
        }
        if (number < m_range.from)
            return std::nullopt;
        if (bytes.size() < declaredLength)
            return SearchEnd{Outcome::Unreadable, number};
        if (mayHold && !m_matcher.empty()) {
            if (const std::optional<std::size_t> field = m_matcher.match(bytes.data(), declaredLength, m_fields)) {
                if (!m_onFound(FoundRecord{number, m_fields, *field}))
                    return SearchEnd{Outcome::Done, number};
            }
        }
        if (number >= m_range.to)
            return SearchEnd{Outcome::Done, number};
        return std::nullopt;
    }

private:
    const SearchRange& m_range;
    QueryMatcher m_matcher;
    const WorkMonitor& m_monitor;
    std::uint64_t m_total;
    const FoundCallback& m_onFound;
    RecordFields m_fields;
    std::uint64_t m_reported = 0;
};

/// How a search ends when the stream gives no more records: `record` is the
/// last record framed, or the one the file could not be read at.
SearchEnd endOf(RecordStream::Step step, std::int64_t framed)
{
    return step == RecordStream::Step::ReadError ? SearchEnd{Outcome::FileError, framed + 1} : SearchEnd{Outcome::Done, framed};
}

SearchEnd searchOneByOne(int fd, const SearchRange& range, RecordVisitor& visitor)
{
    RecordStream stream(fd);
    stream.startAt(range.startOffset, range.recordsBefore);
    FramedRecord record;
    for (;;) {
        // Records before `from` are framed but not read.
        const bool wanted = stream.count() + 1 >= range.from;
        const RecordStream::Step step = stream.next(record, wanted);
        if (step != RecordStream::Step::Record)
            return endOf(step, stream.count());
        if (std::optional<SearchEnd> end =
                visitor.visit(record.number, record.offset, record.declaredLength, record.bytes, true))
            return *end;
    }
}

/// Reads and frames records on a thread of its own, a block at a time, and
/// hands each block with its records to the searching thread; a block is
/// read into again only once its records have been searched.
class BlockReader final : public BlockLender {
public:
    struct Batch {
        std::unique_ptr<unsigned char[]> bytes;
        std::vector<BlockRecord> records;
        bool last = false;
        RecordStream::Step end = RecordStream::Step::End;
        std::int64_t framed = 0;  ///< records framed when the last batch was handed in
    };

    BlockReader(int fd, const SearchRange& range) : m_fd(fd), m_range(range)
    {
        for (Batch& batch : m_batches)
            batch.bytes.reset(new unsigned char[RecordStream::blockCapacity(kSearchBlockSize)]);
        m_thread = std::thread([this] { read(); });
    }

    ~BlockReader() override
    {
        stop();
        m_thread.join();
    }

    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    /// The next batch, once it is read.
    Batch& take()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_taken < m_handedIn; });
        return m_batches[m_taken % kBlocksInFlight];
    }
    /// The batch take() gave is searched: its block may be read into again.
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_taken;
        }
        m_changed.notify_all();
    }
    /// No more batches are taken.
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
    }

    unsigned char* freshBlock() override
    {
        if (!m_lent) {
            m_lent = true;
            return m_batches[0].bytes.get();
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopping || m_next + 1 - m_taken < kBlocksInFlight; });
        Batch& next = m_batches[(m_next + 1) % kBlocksInFlight];
        next.records.clear();
        next.last = false;
        return next.bytes.get();
    }

    void leftBlock(unsigned char*) override
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_next;
            m_handedIn = m_next;
        }
        m_changed.notify_all();
    }

private:
    Batch& current() { return m_batches[m_next % kBlocksInFlight]; }

    [[nodiscard]] bool stopping() const { return m_stopping.load(std::memory_order_relaxed); }

    void read()
    {
        RecordStream stream(m_fd, kSearchBlockSize, *this);
        stream.startAt(m_range.startOffset, m_range.recordsBefore);
        FramedRecord record;
        RecordStream::Step step = RecordStream::Step::End;
        while (stream.count() < m_range.to && !stopping()) {
            const bool wanted = stream.count() + 1 >= m_range.from;
            step = stream.next(record, wanted);
            if (step != RecordStream::Step::Record)
                break;
            Batch& batch = current();
            const std::size_t inBlock = wanted ? static_cast<std::size_t>(record.bytes.data() - batch.bytes.get()) : 0;
            batch.records.push_back(
                {record.number, record.offset, record.declaredLength, wanted, {inBlock, record.bytes.size()}});
            step = RecordStream::Step::End;
        }
        {
            std::lock_guard lock(m_mutex);
            Batch& batch = m_batches[m_next % kBlocksInFlight];
            batch.last = true;
            batch.end = step;
            batch.framed = stream.count();
            m_handedIn = m_next + 1;
        }
        m_changed.notify_all();
    }

    int m_fd;
    const SearchRange& m_range;
    Batch m_batches[kBlocksInFlight];
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_next = 0;      ///< the batch the stream reads into
    std::size_t m_handedIn = 0;  ///< batches ready to be searched
    std::size_t m_taken = 0;     ///< batches searched
    bool m_lent = false;
    std::atomic<bool> m_stopping = false;
    std::thread m_thread;
};

SearchEnd searchBlocks(BlockReader& reader, const SearchQuery& query, RecordVisitor& visitor)
{
    const BlockPrefilter prefilter(query, visitor.matcher());
    std::vector<RecordInBlock> places;
    std::vector<char> candidate;
    for (;;) {
        BlockReader::Batch& batch = reader.take();
        places.clear();
        for (const BlockRecord& record : batch.records) {
            if (record.withBytes)
                places.push_back(record.place);
        }
        candidate.assign(places.size(), 0);
        prefilter.markCandidates(batch.bytes.get(), places, candidate);
        std::size_t k = 0;
        for (const BlockRecord& record : batch.records) {
            const bool mayHold = record.withBytes && candidate[k++] != 0;
            const std::span<const unsigned char> bytes =
                record.withBytes ? std::span<const unsigned char>(batch.bytes.get() + record.place.offset, record.place.length)
                                 : std::span<const unsigned char>();
            if (std::optional<SearchEnd> end =
                    visitor.visit(record.number, record.offset, record.declaredLength, bytes, mayHold)) {
                reader.stop();
                return *end;
            }
        }
        if (batch.last) {
            reader.stop();
            return endOf(batch.end, batch.framed);
        }
        reader.release();
    }
}

}  // namespace

SearchEnd SearchRecords(int fd, const SearchRange& range, const SearchQuery& query, const WorkMonitor& monitor,
                        std::uint64_t total, const FoundCallback& onFound, SearchPath path)
{
    RecordVisitor visitor(range, query, monitor, total, onFound);
    std::unique_ptr<BlockReader> reader;
    if (path == SearchPath::Blocks) {
        try {
            reader = std::make_unique<BlockReader>(fd, range);
        } catch (const std::system_error&) {
            // No second thread to be had: the records are searched one by one.
        }
    }
    return reader ? searchBlocks(*reader, query, visitor) : searchOneByOne(fd, range, visitor);
}

}  // namespace veltrane

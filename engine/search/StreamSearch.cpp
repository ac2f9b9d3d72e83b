// SPDX-License-Identifier: Apache-2.0
#include "search/StreamSearch.h"

#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "iso2709/ReadAhead.h"
#include "iso2709/RecordStream.h"
#include "search/BlockSearch.h"
#include "search/QueryMatcher.h"

namespace veltrane {

namespace {

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

/// Frames the records in the chunks a second thread reads ahead. Each chunk
/// goes through the block prefilter as soon as the stream takes it (one pass
/// over its bytes, which brings them close for the framing), and its records
/// are searched once the stream has moved on from it; a chunk is read into
/// again only then. The record that crosses into a chunk from the one before
/// is matched whatever the prefilter says: its start was never scanned with
/// its end.
SearchEnd searchBlocks(int fd, ReadAhead& source, const SearchRange& range, const SearchQuery& query,
                       RecordVisitor& visitor)
{
    const BlockPrefilter prefilter(query, visitor.matcher());
    RecordStream stream(fd, source);
    stream.startAt(range.startOffset, range.recordsBefore);
    std::vector<FramedRecord> batch;
    std::size_t batchChunk = source.taken();
    const unsigned char* chunkData = nullptr;
    std::vector<std::size_t> hits;  // in the chunk of the batch, from chunkData
    bool everyRecord = true;
    auto searchBatch = [&]() -> std::optional<SearchEnd> {
        std::size_t h = 0;
        for (const FramedRecord& record : batch) {
            bool mayHold = !record.bytes.empty();
            if (mayHold && record.bytes.data() >= chunkData && !everyRecord) {
                const auto start = static_cast<std::size_t>(record.bytes.data() - chunkData);
                while (h < hits.size() && hits[h] < start)
                    ++h;
                mayHold = h < hits.size() && hits[h] < start + record.bytes.size();
            }
            if (std::optional<SearchEnd> end =
                    visitor.visit(record.number, record.offset, record.declaredLength, record.bytes, mayHold))
                return end;
        }
        batch.clear();
        return std::nullopt;
    };
    FramedRecord record;
    for (;;) {
        // Records before `from` are framed but not read.
        const bool wanted = stream.count() + 1 >= range.from;
        const RecordStream::Step step = stream.next(record, wanted);
        if (step != RecordStream::Step::Record || source.taken() != batchChunk) {
            if (std::optional<SearchEnd> end = searchBatch())
                return *end;
            if (step == RecordStream::Step::Record) {
                batchChunk = source.taken();
                source.release(batchChunk - 1);  // every chunk but the one the stream reads
                const ChunkSource::Chunk& chunk = source.current();
                chunkData = chunk.data;
                everyRecord = !prefilter.findHits(chunk.data, chunk.length, hits);
            }
        }
        if (step != RecordStream::Step::Record)
            return endOf(step, stream.count());
        batch.push_back(record);
        if (record.number >= range.to) {
            if (std::optional<SearchEnd> end = searchBatch())
                return *end;
            return SearchEnd{Outcome::Done, record.number};
        }
    }
}

}  // namespace

SearchEnd SearchRecords(int fd, const SearchRange& range, const SearchQuery& query, const WorkMonitor& monitor,
                        std::uint64_t total, const FoundCallback& onFound, SearchPath path)
{
    RecordVisitor visitor(range, query, monitor, total, onFound);
    std::unique_ptr<ReadAhead> source;
    if (path == SearchPath::Blocks) {
        try {
            source = std::make_unique<ReadAhead>(fd, range.startOffset);
        } catch (const std::system_error&) {
            // No second thread to be had: the records are searched one by one.
        }
    }
    return source ? searchBlocks(fd, *source, range, query, visitor) : searchOneByOne(fd, range, visitor);
}

}  // namespace veltrane

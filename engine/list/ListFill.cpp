// SPDX-License-Identifier: Apache-2.0
#include "list/ListFill.h"

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <vector>

#include "iso2709/BatchWorkers.h"
#include "iso2709/RecordStream.h"
#include "list/ListRows.h"

namespace veltrane {

namespace {

/// The records the stream framed in one of its blocks, and the rows a worker
/// made of them where they lie.
struct ListBatch {
    struct Record {
        std::size_t at = 0, size = 0;  ///< where its bytes are in the block
        std::uint32_t declaredLength = 0;
    };
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<Record> records;
    RecordList rows;
    void clear()
    {
        records.clear();
        rows.clear();
    }
};

/// What one thread keeps from record to record.
struct RowWorker {
    RowWorker(DelimiterMode mode, CharsetSetting setting, const std::vector<ColumnPath>& ownColumns)
        : maker(mode, setting, ownColumns)
    {
    }
    ListRowMaker maker;
    ListRow row;
    void add(std::span<const unsigned char> bytes, std::uint32_t declaredLength, RecordList& into)
    {
        maker.make(bytes, declaredLength, row);
        into.append(row);
    }
};

}  // namespace

ListFill FillRecordList(int fd, DelimiterMode mode, CharsetSetting setting, const ListRowsDelivery& deliver,
                        const WorkMonitor& monitor, int workers, const std::vector<ColumnPath>& ownColumns)
{
    if (workers <= 0)
        workers = DefaultWorkerCount(2);
    std::vector<std::unique_ptr<RowWorker>> makers;
    for (int i = 0; i < workers; ++i)
        makers.push_back(std::make_unique<RowWorker>(mode, setting, ownColumns));
    std::int64_t delivered = 0;
    auto hand = [&](RecordList& rows) {
        if (rows.rows() == 0)
            return;
        delivered += static_cast<std::int64_t>(rows.rows());
        deliver(rows);
    };
    // With one worker the calling thread makes the rows between reads.
    std::optional<BatchWorkers<ListBatch>> pool;
    if (workers > 1)
        pool.emplace(workers, RecordStream::blockCapacity(RecordStream::kDefaultBlockSize),
                     [&](ListBatch& batch, std::size_t worker) {
                         for (const ListBatch::Record& r : batch.records)
                             makers[worker]->add({batch.bytes.get() + r.at, r.size}, r.declaredLength, batch.rows);
                     },
                     [&](ListBatch& batch) { hand(batch.rows); });
    RecordStream stream = pool ? RecordStream(fd, RecordStream::kDefaultBlockSize, *pool) : RecordStream(fd);
    RecordList ownRows;
    FramedRecord record;
    struct stat info {};
    const std::uint64_t total = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    std::uint64_t reported = 0;
    Outcome outcome = Outcome::Done;
    for (;;) {
        const RecordStream::Step step = stream.next(record, true);
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
            hand(ownRows);
            ownRows.clear();
        }
        if (pool) {
            ListBatch& batch = pool->current();
            batch.records.push_back({static_cast<std::size_t>(record.bytes.data() - batch.bytes.get()),
                                     record.bytes.size(), record.declaredLength});
        } else {
            makers[0]->add(record.bytes, record.declaredLength, ownRows);
        }
    }
    if (pool)
        pool->finish();
    hand(ownRows);
    if (outcome == Outcome::Done && monitor.stopRequested())
        outcome = Outcome::Cancelled;
    if (outcome == Outcome::Done)
        monitor.report(total, total);
    return {outcome, delivered};
}

ListRead ReadRecordList(int fd, DelimiterMode mode, CharsetSetting setting, const WorkMonitor& monitor, int workers,
                        const std::vector<ColumnPath>& ownColumns)
{
    ListRead read;
    read.fill = FillRecordList(fd, mode, setting, [&](RecordList& rows) { read.list.append(rows); }, monitor, workers,
                               ownColumns);
    read.list.shrinkToFit();
    return read;
}

}  // namespace veltrane

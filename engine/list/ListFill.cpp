// SPDX-License-Identifier: Apache-2.0
#include "list/ListFill.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "iso2709/BatchWorkers.h"
#include "list/ListRows.h"

namespace veltrane {

namespace {

/// The records the stream framed in one of its blocks, and the rows a worker
/// made of them where they lie.
struct ListBatch {
    std::unique_ptr<unsigned char[]> bytes;  ///< the stream's block
    std::vector<BatchedRecord> records;
    RecordList rows;
    void clear()
    {
        records.clear();
        rows.clear();
    }
};

/// What one thread keeps from record to record.
struct RowWorker {
    RowWorker(DelimiterMode mode, CharsetSetting setting, const std::vector<ColumnPath>& ownColumns,
              RuleSetting rules)
        : maker(mode, setting, ownColumns, rules)
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
                        const WorkMonitor& monitor, int workers, const std::vector<ColumnPath>& ownColumns,
                        RuleSetting rules)
{
    if (workers <= 0)
        workers = DefaultWorkerCount(2);
    std::vector<std::unique_ptr<RowWorker>> makers;
    for (int i = 0; i < workers; ++i)
        makers.push_back(std::make_unique<RowWorker>(mode, setting, ownColumns, rules));
    std::int64_t delivered = 0;
    auto hand = [&](RecordList& rows) {
        if (rows.rows() == 0)
            return;
        delivered += static_cast<std::int64_t>(rows.rows());
        deliver(rows);
    };
    const RecordPass pass = PassRecordsInBatches<ListBatch>(
        fd, 1, INT64_MAX, workers, monitor,
        [&](ListBatch& batch, std::span<const unsigned char> bytes, std::uint32_t declaredLength, std::size_t worker) {
            makers[worker]->add(bytes, declaredLength, batch.rows);
        },
        [&](ListBatch& batch) { hand(batch.rows); });
    if (pass.outcome == Outcome::Done)
        monitor.report(pass.fileSize, pass.fileSize);
    return {pass.outcome, delivered};
}

ListRead ReadRecordList(int fd, DelimiterMode mode, CharsetSetting setting, const WorkMonitor& monitor, int workers,
                        const std::vector<ColumnPath>& ownColumns, RuleSetting rules)
{
    ListRead read;
    read.fill = FillRecordList(fd, mode, setting, [&](RecordList& rows) { read.list.append(rows); }, monitor, workers,
                               ownColumns, rules);
    read.list.shrinkToFit();
    return read;
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "charset/Charset.h"
#include "common/Outcome.h"
#include "common/WorkMonitor.h"
#include "iso2709/RecordLayout.h"
#include "list/ColumnPath.h"
#include "list/RecordList.h"
#include "rules/RuleCheck.h"

namespace veltrane {

/// Rows made, in record order, handed over a batch at a time; the receiver
/// may keep them (swap or append) and leaves the batch as it likes.
using ListRowsDelivery = std::function<void(RecordList& rows)>;

/// How filling a list ended: Done, Cancelled, FileError (the file could not be
/// read); the rows made either way.
struct ListFill {
    Outcome outcome = Outcome::Done;
    std::int64_t rows = 0;
};

/// Makes the row of every record of the record file fd (not owned), framing
/// records as the index does, from the first one, and hands them to `deliver`
/// on the calling thread in record order (row k is record k + 1). Reports the
/// bytes framed against the file's size; a stop asked for ends it Cancelled
/// with the rows delivered so far. The calling thread reads; `workers`
/// threads make rows (0: one a core, at most two; 1: the calling thread).
/// Every row also gets the cells of `ownColumns`; its problems count the
/// content findings of `rules` too.
[[nodiscard]] ListFill FillRecordList(int fd, DelimiterMode mode, CharsetSetting setting, const ListRowsDelivery& deliver,
                                      const WorkMonitor& monitor = NoMonitor(), int workers = 0,
                                      const std::vector<ColumnPath>& ownColumns = {},
                                      RuleSetting rules = RuleSetting::None);

/// The whole list of a record file at once (tests, the benchmark).
struct ListRead {
    ListFill fill;
    RecordList list;
};
[[nodiscard]] ListRead ReadRecordList(int fd, DelimiterMode mode, CharsetSetting setting,
                                      const WorkMonitor& monitor = NoMonitor(), int workers = 0,
                                      const std::vector<ColumnPath>& ownColumns = {},
                                      RuleSetting rules = RuleSetting::None);

}  // namespace veltrane

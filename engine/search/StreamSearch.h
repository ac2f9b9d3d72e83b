// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <string_view>

#include "common/Outcome.h"
#include "common/WorkMonitor.h"
#include "iso2709/RecordFields.h"
#include "search/RecordSearch.h"

namespace veltrane {

/// Which records of a file a search visits, framed as the record index frames
/// them.
struct SearchRange {
    std::uint64_t startOffset = 0;  ///< where record recordsBefore + 1 starts
    std::int64_t recordsBefore = 0;
    std::int64_t from = 1;          ///< the first record searched (1-based)
    std::int64_t to = INT64_MAX;    ///< the last record searched
};

/// A record the search found, valid during the call only: its fields as the
/// search took them apart, and the index of the field that matched.
struct FoundRecord {
    std::int64_t number = 0;
    const RecordFields& fields;
    std::size_t field = 0;
};
/// Return false to stop the search.
using FoundCallback = std::function<bool(const FoundRecord& found)>;

/// How a search ended: Done (every record visited, or the callback stopped
/// it; `record` is the last record visited), Unreadable (a record cut off by
/// the end of the file; `record` is its number), Cancelled (`record`: the
/// record it stopped before), FileError (`record`: the one that could not be
/// read).
struct SearchEnd {
    Outcome outcome = Outcome::Done;
    std::int64_t record = 0;
};

/// How records are taken to the matcher: a whole block through the block
/// prefilter first, on a second thread that reads the next block meanwhile;
/// or each record by itself on the calling thread (the plain path the block
/// path must agree with).
enum class SearchPath { Blocks, OneByOne };

/// Searches the records of fd (not owned) in range for the query, in order,
/// handing each record found to onFound on the calling thread. Progress and
/// cancel go by the records' offsets, every monitor.interval bytes; the
/// caller reports the start and the end.
[[nodiscard]] SearchEnd SearchRecords(int fd, const SearchRange& range, const SearchQuery& query,
                                      const WorkMonitor& monitor, std::uint64_t total, const FoundCallback& onFound,
                                      SearchPath path = SearchPath::Blocks);

}  // namespace veltrane

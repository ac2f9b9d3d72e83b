// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/WorkMonitor.h"
#include "net/CatalogueQuery.h"
#include "net/ServerRecord.h"
#include "net/ServerDescription.h"

namespace veltrane {

inline constexpr std::size_t kDefaultMaxRecords = 100;
inline constexpr std::size_t kDefaultBatchSize = 20;
inline constexpr int kDefaultTimeoutSeconds = 30;

/// How much is fetched, and how long any one wait on a server may last.
struct FetchOptions {
    std::size_t maxRecords = kDefaultMaxRecords;  ///< per server, from its first hit on
    std::size_t batchSize = kDefaultBatchSize;    ///< records asked for in one present
    int timeoutSeconds = kDefaultTimeoutSeconds;  ///< per wait: connect, search or present
};

/// One record a server gave, at its place in the server's result (1-based).
struct FetchedRecord {
    std::uint64_t position = 0;
    ServerRecord record;
};

/// What one server answered.
struct ServerResult {
    /// The server could not be searched (no connection, a time limit, a
    /// diagnostic for the search, a query it cannot be sent): `failure` says
    /// why. A failure during the presents keeps the records got before it.
    bool failed = false;
    std::string failure;
    std::uint64_t hits = 0;
    std::vector<FetchedRecord> records;
    /// Records skipped or with problems, told with their position.
    std::vector<std::string> notes;
};

struct FetchResult {
    std::vector<ServerResult> servers;  ///< in the order the servers were given
    bool cancelled = false;             ///< stopped through the monitor; the results are incomplete
};

/// Told on the fetching thread as each server's results come in, so that a
/// hit list can fill before the slowest server is done. Every call is about
/// the server at `server` (0-based, in the order given).
class FetchObserver {
public:
    virtual ~FetchObserver() = default;
    /// The search is done: the server's hit count (records are fetched next).
    virtual void hitsFound(std::size_t server, std::uint64_t hits) = 0;
    /// One record read, as it is then kept in the server's result.
    virtual void recordFetched(std::size_t server, const FetchedRecord& record) = 0;
    /// The server is done, or has failed (`result.failed`): its result is
    /// final. Not told for the servers a stop request ends.
    virtual void serverEnded(std::size_t server, const ServerResult& result) = 0;
};

/// Searches every server at once with one query and fetches up to
/// maxRecords of each one's hits, in batches, on the calling thread through
/// ZOOM's event loop: a server that is down or slow holds up none of the
/// others, and each one's waits are bounded by the time limit. Progress is
/// reported in records (fetched, expected so far); a stop request is seen
/// within a tenth of a second. Never throws.
[[nodiscard]] FetchResult FetchRecords(std::span<const ServerDescription> servers, const CatalogueQuery& query,
                                       const FetchOptions& options, const WorkMonitor& monitor,
                                       FetchObserver* observer = nullptr);

}  // namespace veltrane

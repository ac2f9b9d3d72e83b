// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>

#include "check/CheckTypes.h"
#include "common/WorkMonitor.h"

namespace veltrane::check {

/// Checks the records of fd (of `size` bytes) as CheckRecords does: the
/// calling thread reads the file and frames the records, `workers` threads
/// check them where they were read, and the problems are told in file order;
/// with a `tally`, they are only counted into it, each worker counting its
/// own.
[[nodiscard]] CheckResult CheckOnWorkers(int fd, std::uint64_t size, const CheckOptions& options,
                                         const WorkMonitor& monitor,
                                         const std::function<void(const CheckProblem&)>& report, int workers,
                                         ProblemTally* tally = nullptr);

}  // namespace veltrane::check

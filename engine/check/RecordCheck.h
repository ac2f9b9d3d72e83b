// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "check/CheckTypes.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordStream.h"
#include "common/WorkMonitor.h"

namespace veltrane {

/// Checks one framed record (bytes as the file holds them); appends its
/// problems to `out` and, when asked, gives its 001 value. `fields` and
/// `codec` are scratch objects of the caller.
void CheckRecord(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
                 std::vector<CheckProblem>& out, std::string* controlNumber = nullptr);

/// Checks the records of fd (not owned) from offset 0, front to back, and the
/// bytes between and after them; tells each problem to `report` in file
/// order. Memory stays flat; checks `monitor` every few MiB.
[[nodiscard]] CheckResult CheckRecords(int fd, const CheckOptions& options, const WorkMonitor& monitor,
                                       const std::function<void(const CheckProblem&)>& report);

/// Checks the records of fd as CheckRecords does, only counting the
/// problems into `tally` (they are not made with their 001 value or
/// description).
[[nodiscard]] CheckResult CountProblems(int fd, const CheckOptions& options, const WorkMonitor& monitor,
                                        ProblemTally& tally);

}  // namespace veltrane

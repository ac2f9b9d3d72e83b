// SPDX-License-Identifier: Apache-2.0
#include "check/CheckFraming.h"

namespace veltrane::check {

std::string JunkDescription(std::uint64_t from, std::uint64_t bytes, std::int64_t before)
{
    return std::to_string(bytes) + " bytes between records, from byte " + std::to_string(from) +
           (before == 0 ? " (before the first record)" : "");
}

}  // namespace veltrane::check

#pragma once

#include <string_view>
#include <vector>

namespace veltrane::cli {

/// `veltrane-cli check ...`: the arguments after the command word. Returns the
/// exit status: 0 nothing found, 1 problems found, 2 a usage or file error.
[[nodiscard]] int runCheckCommand(const std::vector<std::string_view>& arguments);

inline constexpr std::string_view kCheckUsage = "check [--mode M] [--charset C] [--summary] FILE [A [B]]";

}  // namespace veltrane::cli

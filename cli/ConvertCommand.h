#pragma once

#include <string_view>
#include <vector>

namespace veltrane::cli {

/// `veltrane-cli convert ...`: the arguments after the command word. Returns
/// the exit status: 0 every record converted whole, 1 some only in part, 2 a
/// usage or file error.
[[nodiscard]] int runConvertCommand(const std::vector<std::string_view>& arguments);

/// The usage line of convert (after the program name) and its one-line summary.
inline constexpr std::string_view kConvertUsage =
    "convert [--mode M] [--charset C] [--from FORMAT] --to FORMAT [--utf8] [-o TARGET [--overwrite]] FILE [A [B]]";

}  // namespace veltrane::cli

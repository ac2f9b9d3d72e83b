// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>
#include <vector>

namespace veltrane::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitNothingFound = 1;  ///< find found nothing, or show met an unreadable record
inline constexpr int kExitFailure = 2;       ///< usage errors and files that cannot be read or written

/// One command of the tool: its word, its usage, its line in the overall help
/// and the function that parses its own arguments and runs it.
struct CliCommand {
    std::string_view name;
    std::string_view usage;    ///< after the program name
    std::string_view summary;  ///< its line under "Commands:"
    /// Runs the command over the arguments after its word; returns the exit status.
    int (*run)(const std::vector<std::string_view>& arguments);
};

}  // namespace veltrane::cli

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "CliCommand.h"

namespace veltrane::cli {

/// Every command, in the order the usage lists them.
[[nodiscard]] std::span<const CliCommand* const> allCommands();

/// The command with this word; nullptr when there is none.
[[nodiscard]] const CliCommand* findCommand(std::string_view name);

/// The usage lines of every command and of the tool's own options.
[[nodiscard]] std::string overallUsage();
/// The help the tool prints for "--help".
[[nodiscard]] std::string overallHelp();

}  // namespace veltrane::cli

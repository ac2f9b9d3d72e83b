// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace veltrane::cli {

/// Runs the command-line tool and returns its exit status.
[[nodiscard]] int runCli(int argc, char** argv);

}  // namespace veltrane::cli

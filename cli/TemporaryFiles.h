// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

#include "common/UserPrompt.h"

namespace veltrane::cli {

/// The one file the tool makes for a run that reads records by number, the
/// record index in the temporary directory. It is removed by
/// removeTemporaryFiles() and, when the process is ended by a signal, by the
/// signal handler.

/// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE that remove
/// the files and end the process with the same signal. A signal ignored when
/// the process started stays ignored (a closed pipe then shows as a failed
/// write instead).
void installCleanupHandlers();

/// Creates the index file (named by the engine). Nothing after a failure: the
/// engine has told it through prompt, or error holds the reason.
[[nodiscard]] std::optional<std::string> createIndexFile(UserPrompt& prompt, std::string& error);

/// Removes the index file when it exists. Safe to call more than once.
void removeTemporaryFiles();

}  // namespace veltrane::cli

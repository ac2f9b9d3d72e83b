#pragma once

#include <optional>
#include <string>

#include "UserPrompt.h"

namespace veltrane::cli {

/// The two files the tool makes for one run, the record index and the scratch
/// display file, both in the temporary directory. They are removed by
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

/// Creates a private, empty scratch display file: an anonymous file in memory
/// when the system offers one, else a file in the directory of the index file.
/// Returns the name to open it by; nothing after a failure, with the reason in
/// error.
[[nodiscard]] std::optional<std::string> createScratchFile(const std::string& indexFileName, std::string& error);

/// The fallback of createScratchFile: a new file of its own, readable and
/// writable by the user only, beside the index file.
[[nodiscard]] std::optional<std::string> createScratchFileOnDisk(const std::string& indexFileName,
                                                                 std::string& error);

/// Removes whichever of the two files exist. Safe to call more than once.
void removeTemporaryFiles();

}  // namespace veltrane::cli

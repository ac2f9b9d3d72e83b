// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

#include "display/RecordScan.h"
#include "common/UserPrompt.h"
#include "common/WorkMonitor.h"

namespace veltrane {

/// How an extraction ended.
enum class ExtractOutcome {
    Copied,               ///< the records are in the target
    Declined,             ///< the user chose not to touch the existing target
    Failed,               ///< the target is as before (or gone, when made here); `message` says why
    QuestionUnavailable,  ///< the overwrite question could not be asked
    Cancelled,            ///< stopped through the monitor; undone as a failure is
};

/// What an extraction came to. The engine tells nothing itself: the caller
/// shows `message` (one of the engine's fixed texts, empty unless Failed).
struct ExtractResult {
    ExtractOutcome outcome = ExtractOutcome::Copied;
    std::string_view message;
};

/// Copies records a to b (1-based, inclusive, 1 <= a <= b <= count) of fileName
/// byte for byte, separators included, into targetPath: created when missing,
/// otherwise overwritten or appended to as the user answers `prompt`'s
/// question (asked after the record file and the index have been checked), in
/// place, so that a record file open in a window may be appended to. Never
/// onto the scratch display file, nor overwriting the record file itself. A
/// failed or cancelled copy is undone: a created target removed, an appended
/// one cut back to its old length, an overwritten one left empty.
[[nodiscard]] ExtractResult ExtractRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const char* fileName,
                                           const char* indexFileName, int a, int b, const char* targetPath,
                                           const WorkMonitor& monitor = NoMonitor());

}  // namespace veltrane

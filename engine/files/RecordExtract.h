// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "display/RecordScan.h"
#include "common/UserPrompt.h"
#include "common/WorkMonitor.h"

namespace veltrane {

/// How an extraction ended.
enum class ExtractOutcome {
    Copied,               ///< the records are in the target
    Declined,             ///< the user chose not to touch the existing target
    Failed,               ///< told to the user; the target is as before (or gone, when made here)
    QuestionUnavailable,  ///< the overwrite question could not be asked
    Cancelled,            ///< stopped through the monitor; undone as a failure is
};

/// Copies records a to b (1-based, inclusive, 1 <= a <= b <= count) of fileName
/// byte for byte, separators included, into targetPath: created when missing,
/// otherwise overwritten or appended to as the user answers (asked after the
/// record file and the index have been checked), in place, so that a record
/// file open in a window may be appended to. Never onto the scratch display
/// file, nor overwriting the record file itself. A failed or cancelled copy is
/// undone: a created target removed, an appended one cut back to its old
/// length, an overwritten one left empty.
[[nodiscard]] ExtractOutcome ExtractRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const char* fileName,
                                            const char* indexFileName, int a, int b, const char* targetPath,
                                            const WorkMonitor& monitor);

/// The same without a monitor. Returns 1 when the copy was made or the user
/// declined, 0 after a failure told to the user, and -1 when the question
/// could not be asked.
int ExtractRecords(UserPrompt& prompt, const ScratchDisplay& scratch, const char* fileName, const char* indexFileName,
                   int a, int b, const char* targetPath);

}  // namespace veltrane

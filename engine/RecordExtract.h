#pragma once

#include "UserPrompt.h"

namespace veltrane {

/// Copies records a to b (1-based, inclusive, 1 <= a <= b <= count) of fileName
/// byte for byte, separators included, into targetPath: created when missing,
/// otherwise overwritten or appended to as the user answers. Returns 1 when the
/// copy was made or the user cancelled, 0 after a failure told to the user, and
/// -1 when the question could not be asked.
int ExtractRecords(UserPrompt& prompt, const char* fileName, const char* indexFileName, int a, int b,
                   const char* targetPath);

}  // namespace veltrane

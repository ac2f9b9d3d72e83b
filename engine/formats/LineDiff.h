// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrane {

/// Appends the unified diff of two texts of lines (each ending with '\n'; a
/// last line without one counts as a line): hunks headed `@@ -a,b +c,d @@`,
/// lines kept marked ' ', taken out '-', put in '+', with `context` kept
/// lines around each change; no file header. Appends nothing when the texts
/// are the same. Long texts that differ throughout are told as all taken
/// out and all put in rather than matched line by line.
void AppendUnifiedDiff(std::string_view before, std::string_view after, std::string& out, std::size_t context = 3);

}  // namespace veltrane

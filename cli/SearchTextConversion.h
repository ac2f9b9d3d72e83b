// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

#include "charset/Charset.h"

namespace veltrane::cli {

/// A typed search text as UTF-8, to be compared with each record in its own
/// set, with its length as the search counts it.
struct TypedSearchText {
    std::string utf8;
    std::size_t searchedLength = 0;  ///< bytes in the set that limits it (GBK when GBK holds it)
    std::string error;               ///< empty on success
};

/// Converts text from the locale's character set to UTF-8. A setting of one
/// fixed set that cannot hold a character of it refuses the text with a
/// message naming the character; automatic never refuses a text for its
/// characters.
[[nodiscard]] TypedSearchText convertSearchText(std::string_view text, CharsetSetting setting);

}  // namespace veltrane::cli

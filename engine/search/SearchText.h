// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "charset/Charset.h"

namespace veltrane {

/// A typed search text in the bytes of one character set.
struct SearchTextBytes {
    /// The text as the set writes it; nothing when the set cannot hold one of
    /// its characters (MARC-8 is never encoded: it is searched as decoded text).
    std::optional<std::string> bytes;
    /// The first character the set cannot hold (U+FFFD for bytes that are not
    /// UTF-8); 0 when bytes holds the text.
    char32_t unheld = 0;
};

/// Turns typed text (UTF-8) into the bytes a record in `set` holds it as.
/// Every search goes through here: the viewer's, the command line's (after
/// converting from the locale) and the matcher's, one set per record.
[[nodiscard]] SearchTextBytes SearchTextIn(TextCodec& codec, Charset set, std::string_view typedUtf8);

}  // namespace veltrane

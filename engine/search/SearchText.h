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

/// Why a typed text cannot be searched for.
enum class SearchTextRefusal {
    None,
    NotInGbk,      ///< the setting is GBK and GBK cannot hold one of its characters
    NotInGb18030,  ///< the setting is GB18030 and GB18030 cannot hold one of them
    TooLong,       ///< more than kMaxSearchTextLength bytes, as `length` counts them
};

/// A typed text checked before a search under a character-set setting.
struct TypedSearchText {
    SearchTextRefusal refusal = SearchTextRefusal::None;
    /// The text in GBK; empty when GBK cannot hold it (each record is then
    /// searched in its own set).
    std::string gbk;
    /// Its length as the search limits it, under every setting alike: its GBK
    /// bytes when GBK holds it, else its UTF-8 bytes.
    std::size_t length = 0;
};

/// Checks typed text (UTF-8; bytes that are not UTF-8 are a character no set
/// holds) for a search under `setting`: a fixed GBK or GB18030 setting
/// refuses a character that set cannot hold (GB18030 holds what GBK holds),
/// and any setting refuses a text longer than the search takes.
[[nodiscard]] TypedSearchText CheckTypedSearchText(TextCodec& codec, CharsetSetting setting,
                                                   std::string_view typedUtf8);

}  // namespace veltrane

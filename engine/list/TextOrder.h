// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace veltrane {

/// Whether UTF-8 text a sorts before b in the record list: character by
/// character by code point, except that every hanzi of the pinyin table
/// (`PinyinOrder.generated.inc`) sorts in pinyin order, after the characters
/// below U+3007 and before the other characters from U+3007 on; a text sorts
/// before the longer texts it begins. Costs a byte comparison of the common
/// start and one character's look-up.
[[nodiscard]] bool TextSortsBefore(std::string_view a, std::string_view b);

}  // namespace veltrane

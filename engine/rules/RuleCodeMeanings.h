// SPDX-License-Identifier: Apache-2.0
#pragma once

// What each content finding's code means, in Chinese, for readers of the
// viewer (the codes themselves and the English messages stay as `check`
// prints them).

#include <string_view>

namespace veltrane::rules {

/// The Chinese meaning of a content finding's code (one of kRuleCodes), UTF-8;
/// empty for a code it does not know.
[[nodiscard]] std::string_view RuleCodeMeaningZh(std::string_view code);

}  // namespace veltrane::rules

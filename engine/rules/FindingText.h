// SPDX-License-Identifier: Apache-2.0
#pragma once

// How content findings quote the bytes they are about.

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrane::rules {

/// A byte as a finding quotes it: "blank" for a blank, '?' for a control or
/// a byte past ASCII.
[[nodiscard]] std::string Shown(char c);
/// Values as a list ("blank, 0, 1"), or "none".
[[nodiscard]] std::string ShownValues(std::string_view values);
/// The two digits of a character position, as the format's lists write them ("06").
[[nodiscard]] std::string PositionText(std::size_t position);

}  // namespace veltrane::rules

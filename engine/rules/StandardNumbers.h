// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string_view>

namespace veltrane::rules {

/// What is wrong with a standard number, if anything.
enum class NumberFault { None, Length, CheckDigit };

/// An ISBN as a subfield holds it: hyphens and blanks between its digits are
/// dropped, and it ends at the first blank or '(' after a digit ("0816642346
/// (pbk.)"). Ten digits (the last may be X) or thirteen.
[[nodiscard]] NumberFault CheckIsbn(std::string_view value);
/// An ISSN: eight digits (the last may be X), a hyphen after the fourth.
[[nodiscard]] NumberFault CheckIssn(std::string_view value);

}  // namespace veltrane::rules

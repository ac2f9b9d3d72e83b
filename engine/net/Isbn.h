// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

/// An ISBN as a cataloguer's list gives it, made the ISBN-13 servers are
/// searched with: hyphens and blanks dropped, an ISBN-10 (its last character
/// a digit or X) given the 978 prefix and a new check digit. Nothing when the
/// text is not an ISBN-10 or ISBN-13 with a right check digit.
[[nodiscard]] std::optional<std::string> NormaliseIsbn(std::string_view text);

/// The ISBN-10 of a 978 ISBN-13 (13 digits, no hyphens); nothing for a 979
/// number, which has none, or for anything else.
[[nodiscard]] std::optional<std::string> Isbn10Of(std::string_view isbn13);

}  // namespace veltrane

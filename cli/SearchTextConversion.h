#pragma once

#include <string>
#include <string_view>

namespace veltrane::cli {

/// A search text in the records' character set, or why it cannot be one.
struct GbkText {
    std::string bytes;
    std::string error;  ///< empty on success
};

/// Converts text from the character set of the current locale (setlocale must
/// have been called) to GBK, the records' character set. Fails with a message
/// for bytes that are not valid in the locale's character set and for a
/// character GBK cannot hold.
[[nodiscard]] GbkText convertToGbk(std::string_view text);

}  // namespace veltrane::cli

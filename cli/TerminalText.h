// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace veltrane::cli {

/// Converts UTF-8 text into the character set of the current locale
/// (setlocale must have been called), for a person reading a terminal: a
/// character the set cannot show becomes '?'.
class TerminalText {
public:
    TerminalText();
    ~TerminalText();
    TerminalText(const TerminalText&) = delete;
    TerminalText& operator=(const TerminalText&) = delete;

    /// The text in the locale's set (the text itself when that is UTF-8).
    [[nodiscard]] std::string convert(std::string_view utf8);

private:
    void* m_handle = nullptr;  // iconv_t; none when the locale is UTF-8
    bool m_usable = false;
};

}  // namespace veltrane::cli

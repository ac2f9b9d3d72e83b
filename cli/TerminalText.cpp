// SPDX-License-Identifier: Apache-2.0
#include "TerminalText.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <strings.h>

namespace veltrane::cli {

namespace {

bool isUtf8Locale(const char* codeset)
{
    return ::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0;
}

/// Bytes of the UTF-8 sequence that starts with b (1 for a stray byte).
std::size_t sequenceLength(unsigned char b)
{
    return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

}  // namespace

TerminalText::TerminalText()
{
    const char* codeset = ::nl_langinfo(CODESET);
    if (isUtf8Locale(codeset))
        return;
    iconv_t handle = ::iconv_open(codeset, "UTF-8");
    if (handle == reinterpret_cast<iconv_t>(-1))
        return;
    m_handle = handle;
    m_usable = true;
}

TerminalText::~TerminalText()
{
    if (m_usable)
        ::iconv_close(static_cast<iconv_t>(m_handle));
}

std::string TerminalText::convert(std::string_view utf8)
{
    if (!m_usable)
        return std::string(utf8);  // UTF-8 already, or no converter: as it is
    std::string out;
    out.reserve(utf8.size());
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char chunk[4096];
    while (inLeft > 0) {
        char* to = chunk;
        std::size_t toLeft = sizeof chunk;
        const std::size_t result = ::iconv(static_cast<iconv_t>(m_handle), &in, &inLeft, &to, &toLeft);
        out.append(chunk, sizeof chunk - toLeft);
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // A character the locale's set lacks (or a cut sequence): '?' for it.
        const std::size_t skip = std::min(inLeft, sequenceLength(static_cast<unsigned char>(*in)));
        out += '?';
        in += skip;
        inLeft -= skip;
        ::iconv(static_cast<iconv_t>(m_handle), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace veltrane::cli

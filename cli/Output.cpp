// SPDX-License-Identifier: Apache-2.0
#include "Output.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace veltrane::cli {

bool StandardOutput::write(std::string_view bytes)
{
    if (failed())
        return false;
    if (m_used + bytes.size() > kBufferSize) {
        if (!flush())
            return false;
        if (bytes.size() >= kBufferSize)
            return writeOut(bytes.data(), bytes.size());
    }
    std::memcpy(m_buffer + m_used, bytes.data(), bytes.size());
    m_used += bytes.size();
    return true;
}

bool StandardOutput::writeLine(unsigned long long number)
{
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits - 1, number);
    *end++ = '\n';
    return write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

bool StandardOutput::flush()
{
    if (failed())
        return false;
    std::size_t used = m_used;
    m_used = 0;
    return writeOut(m_buffer, used);
}

bool StandardOutput::writeOut(const char* bytes, std::size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(STDOUT_FILENO, bytes, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = errno;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace veltrane::cli

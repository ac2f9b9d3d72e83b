// SPDX-License-Identifier: Apache-2.0
#include "formats/TextReaderBase.h"

#include <unistd.h>

#include <cerrno>

namespace veltrane::textreading {

int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ByteSource::fill()
{
    if (m_failed || m_memory != nullptr)
        return false;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_block.get(), kBlockSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            m_failed = true;
        if (n <= 0)
            return false;
        m_at = 0;
        m_length = static_cast<std::size_t>(n);
        return true;
    }
}

}  // namespace veltrane::textreading

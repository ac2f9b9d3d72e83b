// SPDX-License-Identifier: Apache-2.0
#include "files/IndexFile.h"

#include <cstdint>

#include "files/FileAccess.h"

namespace veltrane {

std::uint64_t DecodeIndexEntry(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < kIndexEntrySize; ++i)
        value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    return value;
}

void EncodeIndexEntry(std::uint64_t offset, unsigned char* bytes)
{
    for (std::size_t i = 0; i < kIndexEntrySize; ++i)
        bytes[i] = static_cast<unsigned char>(offset >> (8 * i));
}

IndexReader::IndexReader(int fd) : m_fd(fd), m_block(new unsigned char[kBlockEntries * kIndexEntrySize]) {}

std::optional<std::uint64_t> IndexReader::entry(std::int64_t k)
{
    if (k < 1 || k > INT64_MAX / static_cast<std::int64_t>(kIndexEntrySize))
        return std::nullopt;
    if (k < m_first || k >= m_first + static_cast<std::int64_t>(m_count)) {
        const ssize_t got = fileaccess::readAt(m_fd, m_block.get(), kBlockEntries * kIndexEntrySize,
                                               static_cast<off_t>((k - 1) * static_cast<std::int64_t>(kIndexEntrySize)));
        m_first = k;
        m_count = got > 0 ? static_cast<std::size_t>(got) / kIndexEntrySize : 0;
        if (m_count == 0)
            return std::nullopt;
    }
    return DecodeIndexEntry(m_block.get() + static_cast<std::size_t>(k - m_first) * kIndexEntrySize);
}

}  // namespace veltrane

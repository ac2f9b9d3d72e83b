// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace veltrane {

inline constexpr std::size_t kIndexEntrySize = 8;

/// Entry k of an index lies at byte (k - 1) * 8, a 64-bit little-endian offset.
[[nodiscard]] std::uint64_t DecodeIndexEntry(const unsigned char* bytes);
void EncodeIndexEntry(std::uint64_t offset, unsigned char* bytes);

/// Reads the entries of an open index file (the descriptor is not owned) a
/// block at a time, so that a scan over consecutive records reads it once.
class IndexReader {
public:
    explicit IndexReader(int fd);

    /// Entry k (1-based); nothing when the index does not hold it or cannot be
    /// read.
    [[nodiscard]] std::optional<std::uint64_t> entry(std::int64_t k);

private:
    static constexpr std::size_t kBlockEntries = 4096;
    int m_fd;
    std::unique_ptr<unsigned char[]> m_block;
    std::int64_t m_first = 0;
    std::size_t m_count = 0;
};

}  // namespace veltrane

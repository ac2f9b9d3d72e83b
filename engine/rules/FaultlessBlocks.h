// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "rules/RuleIndex.h"

namespace veltrane::rules {

/// The coded bytes of the blocks last found without a fault, one a block:
/// the leader and general data of a file's records are mostly alike, and a
/// block whose coded bytes are those has no fault either.
class FaultlessBlocks {
public:
    /// Whether `bytes` of a memorable block are those of its last faultless one.
    [[nodiscard]] bool holds(const CodedBlock& block, std::span<const unsigned char> bytes) const
    {
        for (const Entry& e : m_entries) {
            if (e.block != &block)
                continue;
            for (std::size_t w = 0; w < (block.extent + 7) / 8; ++w)
                if ((wordAt(bytes, w) & block.covered[w]) != e.coded[w])
                    return false;
            return true;
        }
        return false;
    }

    void remember(const CodedBlock& block, std::span<const unsigned char> bytes)
    {
        for (Entry& e : m_entries) {
            if (e.block == &block) {
                e.coded = codedBytes(block, bytes);
                return;
            }
        }
        m_entries.push_back({&block, codedBytes(block, bytes)});
    }

    /// Whether a block's faults can be remembered from these bytes.
    [[nodiscard]] static bool memorable(const CodedBlock& block, std::span<const unsigned char> bytes)
    {
        return block.extent <= CodedBlock::kMemorableExtent && bytes.size() >= block.extent;
    }

private:
    using Coded = std::array<std::uint64_t, CodedBlock::kMemorableExtent / 8>;
    struct Entry {
        const CodedBlock* block;
        Coded coded;
    };

    /// Bytes 8w to 8w + 7, those past the end as zeros.
    static std::uint64_t wordAt(std::span<const unsigned char> bytes, std::size_t w)
    {
        std::uint64_t word = 0;
        if (8 * w + 8 <= bytes.size()) {
            std::memcpy(&word, bytes.data() + 8 * w, sizeof word);
        } else if (8 * w < bytes.size()) {
            unsigned char last[8] = {};
            std::memcpy(last, bytes.data() + 8 * w, bytes.size() - 8 * w);
            std::memcpy(&word, last, sizeof word);
        }
        return word;
    }

    static Coded codedBytes(const CodedBlock& block, std::span<const unsigned char> bytes)
    {
        Coded coded{};
        for (std::size_t w = 0; w < (block.extent + 7) / 8; ++w)
            coded[w] = wordAt(bytes, w) & block.covered[w];
        return coded;
    }

    std::vector<Entry> m_entries;
};

}  // namespace veltrane::rules

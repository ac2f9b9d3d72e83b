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
        for (const Entry& e : m_entries)
            if (e.block == &block)
                return e.coded == codedBytes(block, bytes);
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

    static Coded codedBytes(const CodedBlock& block, std::span<const unsigned char> bytes)
    {
        Coded coded{};
        std::memcpy(coded.data(), bytes.data(), block.extent);
        for (std::size_t i = 0; i < coded.size(); ++i)
            coded[i] &= block.covered[i];
        return coded;
    }

    std::vector<Entry> m_entries;
};

}  // namespace veltrane::rules

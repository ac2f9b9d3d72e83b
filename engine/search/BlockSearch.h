// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "search/QueryMatcher.h"
#include "search/RecordSearch.h"

namespace veltrane {

/// Where one record stands in a block of records that lie back to back.
struct RecordInBlock {
    std::size_t offset = 0;  ///< of its first byte, from the block's start
    std::size_t length = 0;  ///< its bytes in the block
};

/// Rules records out of a search a block at a time. It looks for a few
/// needles over the whole block: a record whose bytes hold none of them cannot
/// hold the query, so only the records with a hit are taken apart and matched.
/// A byte pattern lies in a field's data, or starts in its tag (which stands
/// in the directory, away from the data): the pattern without its first three
/// bytes (fewer when it is shorter) lies in the record either way. MARC-8
/// records go by what their raw bytes must show (Marc8Prefilter).
class BlockPrefilter {
public:
    BlockPrefilter(const SearchQuery& query, const QueryMatcher& matcher);

    /// Whether some record may match with no needle in its bytes: then every
    /// record is to be matched.
    [[nodiscard]] bool passesAll() const { return m_passesAll; }

    /// Sets hits to the positions in bytes[0, n) where a needle starts or a
    /// MARC-8 run break stands, in increasing order; false when there are so
    /// many (or passesAll()) that every record there is a candidate.
    [[nodiscard]] bool findHits(const unsigned char* bytes, std::size_t n, std::vector<std::size_t>& hits) const;

    /// Sets candidate[i] to 1 for each record i whose bytes hold a needle
    /// (records in increasing offset order, all within block); leaves the
    /// others as they are.
    void markCandidates(const unsigned char* block, std::span<const RecordInBlock> records,
                        std::vector<char>& candidate) const;

private:
    void addNeedle(std::string bytes, const SearchQuery& query);

    std::vector<RecordMatcher> m_needles;
    bool m_marc8Breaks = false;  ///< records whose MARC-8 bytes may not show an ASCII run as it decodes
    bool m_passesAll = false;
};

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "search/BlockSearch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "charset/Utf8.h"
#include "search/Marc8Prefilter.h"


namespace veltrane {

namespace {

// A match may start this many bytes before the field's data: in its tag.
constexpr std::size_t kBytesBeforeData = kTagLength;

/// The pattern as records are compared with it: "$" before a letter or digit
/// is the subfield delimiter, letters folded unless case counts.
std::string comparable(std::string bytes, const SearchQuery& query)
{
    const unsigned char delimiter = SubfieldDelimiter(query.delimiterMode);
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == '$' && IsAsciiLetterOrDigit(static_cast<unsigned char>(bytes[i + 1])))
            bytes[i] = static_cast<char>(delimiter);
    }
    if (!query.caseSensitive) {
        for (char& c : bytes)
            c = static_cast<char>(FoldUpper(static_cast<unsigned char>(c)));
    }
    return bytes;
}

// More hits than this in a stretch of bytes, and every record there is
// matched on its own: the needle is common, and sorting out which records hold
// it costs more than it saves.
constexpr std::size_t kBytesPerHitAtMost = 256;

}  // namespace

BlockPrefilter::BlockPrefilter(const SearchQuery& query, const QueryMatcher& matcher)
{
    if (matcher.empty())
        return;
    for (std::string_view pattern : matcher.bytePatterns()) {
        // The match may start in the tag: up to three bytes of it there.
        std::size_t skip = std::min(kBytesBeforeData, pattern.size() - 1);
        if (query.tag.size() == kTagLength) {
            // In a field with a known tag, only where the pattern's start
            // agrees with the tag's end.
            const std::string start = comparable(std::string(pattern), query);
            std::string tag = query.tag;
            if (!query.caseSensitive)
                std::transform(tag.begin(), tag.end(), tag.begin(),
                               [](char c) { return static_cast<char>(FoldUpper(static_cast<unsigned char>(c))); });
            while (skip > 0 && start.compare(0, skip, tag, kTagLength - skip, skip) != 0)
                --skip;
        }
        addNeedle(std::string(pattern.substr(skip)), query);
    }
    if (!matcher.searchesMarc8())
        return;
    const Marc8Prefilter& marc8 = *matcher.marc8Prefilter();
    m_marc8Breaks = true;
    if (marc8.needle())
        addNeedle(marc8.needle()->pattern(), query);
    else if (marc8.passesAll())
        m_passesAll = true;
}

void BlockPrefilter::addNeedle(std::string bytes, const SearchQuery& query)
{
    // A needle that holds another is found wherever that one is: the shorter
    // one alone says as much.
    const std::string wanted = comparable(bytes, query);
    for (const RecordMatcher& needle : m_needles) {
        if (wanted.find(comparable(needle.pattern(), query)) != std::string::npos)
            return;
    }
    std::erase_if(m_needles, [&](const RecordMatcher& needle) {
        return comparable(needle.pattern(), query).find(wanted) != std::string::npos;
    });
    m_needles.emplace_back(bytes, query.caseSensitive, query.delimiterMode, std::string());
}

bool BlockPrefilter::findHits(const unsigned char* bytes, std::size_t n, std::vector<std::size_t>& hits) const
{
    hits.clear();
    if (m_passesAll)
        return false;
    const std::size_t most = n / kBytesPerHitAtMost + 16;
    for (const RecordMatcher& needle : m_needles) {
        for (std::size_t at = 0; at < n;) {
            const std::optional<std::size_t> hit = needle.firstIn(bytes + at, n - at);
            if (!hit)
                break;
            hits.push_back(at + *hit);
            if (hits.size() > most)
                return false;
            at += *hit + 1;
        }
    }
    if (m_marc8Breaks) {
        for (std::size_t at = FirstAsciiRunBreak(bytes, n); at < n; at = FirstAsciiRunBreak(bytes, n, at + 1)) {
            hits.push_back(at);
            if (hits.size() > most)
                return false;
        }
    }
    if (m_needles.size() > 1 || (m_marc8Breaks && !m_needles.empty()))
        std::sort(hits.begin(), hits.end());
    return true;
}

void BlockPrefilter::markCandidates(const unsigned char* block, std::span<const RecordInBlock> records,
                                    std::vector<char>& candidate) const
{
    if (records.empty())
        return;
    const std::size_t start = records.front().offset;
    std::vector<std::size_t> hits;
    if (!findHits(block + start, records.back().offset + records.back().length - start, hits)) {
        std::fill(candidate.begin(), candidate.begin() + static_cast<std::ptrdiff_t>(records.size()), 1);
        return;
    }
    // Both in increasing order: each hit marks the record it stands in.
    std::size_t r = 0;
    for (const std::size_t hit : hits) {
        const std::size_t at = start + hit;
        while (r < records.size() && records[r].offset + records[r].length <= at)
            ++r;
        if (r == records.size())
            break;
        if (records[r].offset <= at)
            candidate[r] = 1;
    }
}

}  // namespace veltrane

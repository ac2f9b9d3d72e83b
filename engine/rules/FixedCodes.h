// SPDX-License-Identifier: Apache-2.0
#pragma once

// The coded character positions of fixed fields (the leader, MARC 21 006,
// 007 and 008, UNIMARC 100 $a) against the codes the rule tables give them.

#include <cstddef>
#include <span>
#include <string_view>

#include "rules/RuleIndex.h"
#include "rules/RuleTables.h"

namespace veltrane::rules {

/// The MARC 21 bibliographic 008 material of a record, from its type of
/// record (leader/06) and bibliographic level (leader/07): "BK", "CR", …;
/// empty where none applies (or the set has no materials).
[[nodiscard]] std::string_view MaterialOfRecord(const RuleSetTables& tables, unsigned char type, unsigned char level);

/// The material a 006 describes, from its form of material (006/00); empty
/// for a form the set does not define.
[[nodiscard]] std::string_view MaterialOfForm(const RuleSetTables& tables, unsigned char form);

/// Bytes 006/01-17 hold what 008/18-34 of the same material hold: an 008
/// position less this is the 006 position.
inline constexpr std::size_t k006ShiftFrom008 = 17;

/// Calls `fault(rule, at)` once for each coded position of `block` whose bytes are
/// not one of its codes, with the rule and the 0-based byte, in `bytes`, of
/// its first value that is not a code. With a `shift`, only the material's
/// positions are checked, each `shift` bytes earlier in `bytes` than the rule
/// gives it (006 against the rules of 008). Positions past the end of `bytes`
/// are skipped.
template <typename Fault>
void FindFixedCodeFaults(const CodedBlock& block, std::span<const unsigned char> bytes, std::size_t shift,
                         Fault&& fault)
{
    for (const CodedPosition& position : block.positions) {
        const FixedCodeRule& rule = *position.rule;
        if (shift != 0 && (rule.material.empty() || rule.position < shift))
            continue;
        const std::size_t first = rule.position - shift;
        if (first + rule.length > bytes.size())
            continue;
        for (std::size_t k = 0; k < rule.length; k += rule.width) {
            if (!position.isCode(bytes.data() + first + k)) {
                fault(rule, first + k);
                break;
            }
        }
    }
}

}  // namespace veltrane::rules

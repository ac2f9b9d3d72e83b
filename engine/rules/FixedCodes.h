// SPDX-License-Identifier: Apache-2.0
#pragma once

// The coded character positions of fixed fields (the leader, MARC 21 006,
// 007 and 008, UNIMARC 100 $a) against the codes the rule tables give them.

#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

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

/// Calls `fault` once for each coded position of `block` (the positions of
/// every such field, and those of `material`) whose bytes are not one of its
/// codes, with the rule and the 0-based byte, in `bytes`, of its first value
/// that is not a code. With a `shift`, only the material's positions are
/// checked, each `shift` bytes earlier in `bytes` than the rule gives it
/// (006 against the rules of 008). Positions past the end of `bytes` are
/// skipped.
void FindFixedCodeFaults(const RuleSetTables& tables, std::string_view block, std::string_view material,
                         std::span<const unsigned char> bytes, std::size_t shift,
                         const std::function<void(const FixedCodeRule& rule, std::size_t at)>& fault);

}  // namespace veltrane::rules

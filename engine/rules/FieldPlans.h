// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the content check does with the fields of each tag of a rule set,
// worked out once a set: the tag's rule, the sets of its codes, and which
// checks its field gets beyond what the tables say.

#include <array>
#include <string_view>

#include "rules/RuleIndex.h"

namespace veltrane::rules {

/// What a data field's subfield values are checked for, beyond the tables.
enum class ValueCheck { None, Isbn, Issn, MarcLanguages, MarcCountry, CodedPositions, GeneralData, Iso639, Iso3166 };

/// The kind of format a rule set is of, as the checks beyond the tables
/// tell formats apart.
enum class FormatKind { Marc21Bibliographic, Marc21Authority, Unimarc };

/// What the check does with the fields of one tag.
struct FieldPlan {
    const FieldRule* rule = nullptr;  ///< nullptr: the set does not define the tag
    const ByteSet* defined = nullptr;     ///< the subfield codes the rule defines
    const ByteSet* repeatable = nullptr;  ///< those of them that may repeat
    const ByteSet* indicator1 = nullptr;  ///< the values the first indicator may hold
    const ByteSet* indicator2 = nullptr;
    ValueCheck valueCheck = ValueCheck::None;
    bool control = false;  ///< a control field: no indicators, no subfields
    /// Only names are known of it, or no subfields at all: what its data
    /// holds is not checked.
    bool open = false;
    bool embedsFields = false;  ///< a UNIMARC 4XX: what follows $1 is a field with rules of its own
    bool titleField = false;    ///< MARC 21 245, UNIMARC 200: $a is due
    bool local = false;         ///< the library's own (9XX, X9X): never undefined
    /// MARC 21 041 and 044: a $2 anywhere, or a second indicator 7, says the
    /// codes are from another list than MARC's, and are not checked.
    bool codesFromAnyList = false;
};

/// The plans of one rule set for the tags of digits.
class FieldPlans {
public:
    FieldPlans(FormatKind kind, const RuleSetTables& tables);

    [[nodiscard]] const RuleIndex& index() const { return m_index; }
    /// The plan of tag number 0-999 (TagNumber).
    [[nodiscard]] const FieldPlan& operator[](int number) const { return m_plans[static_cast<std::size_t>(number)]; }
    /// The plan of a tag of any bytes, `rule` being its rule in this set.
    [[nodiscard]] FieldPlan planOf(std::string_view tag, const FieldRule* rule) const;
    /// As RuleIndex::codedBlock; the leader's and UNIMARC 100 $a's, checked
    /// in every record, are at hand.
    [[nodiscard]] const CodedBlock& codedBlock(std::string_view block, std::string_view material) const
    {
        if (material.empty() && block == kLeaderBlock)
            return m_leader;
        if (material.empty() && block == kGeneralDataBlock)
            return m_generalData;
        return m_index.codedBlock(block, material);
    }

    static constexpr std::string_view kLeaderBlock = "LDR";
    static constexpr std::string_view kGeneralDataBlock = "100 $a";

private:
    FormatKind m_kind;
    RuleIndex m_index;
    std::array<FieldPlan, 1000> m_plans;
    const CodedBlock& m_leader;
    const CodedBlock& m_generalData;
};

}  // namespace veltrane::rules

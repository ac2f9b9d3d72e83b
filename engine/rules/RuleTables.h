// SPDX-License-Identifier: Apache-2.0
#pragma once

// The content rules of each record format as data: generated from their
// recorded sources by tools/make_rule_tables.py (docs/RULES.md names them).

#include <cstdint>
#include <span>
#include <string_view>

namespace veltrane::rules {

/// One subfield code a field defines.
struct SubfieldRule {
    char code;
    bool repeatable;
    std::string_view name;  ///< English, from the source; empty where the source names none
    std::string_view nameZh;  ///< Chinese; empty where the English is
    bool zhTranslated;        ///< the Chinese name is a translation of the English, not a published one
};

/// One value an indicator may hold, with what it means.
struct IndicatorValueRule {
    char value;                  ///< ' ' for a blank
    std::string_view meaning;    ///< English, from the source
    std::string_view meaningZh;  ///< Chinese, never empty
    bool zhTranslated;           ///< the Chinese is a translation of the English, not a published one
};

/// One coded character position of the leader or of a fixed field, with the
/// codes it may hold.
struct FixedCodeRule {
    std::string_view block;  ///< "LDR", "006", "007", "008", or "100 $a" (UNIMARC, positions within the subfield)
    /// MARC 21 008: "BK", "CF", "MP", "MU", "CR", "VM", "MX"; 007: the category
    /// (007/00, "a" for a map); empty for every field of the block.
    std::string_view material;
    std::uint8_t position;      ///< 0-based
    std::uint8_t length;        ///< bytes the position spans
    /// Bytes one code spans: the whole position, or 1 when each byte of a
    /// longer position is a code of its own (008/18-21, illustrations).
    std::uint8_t width;
    bool digits;                ///< any digits are a value too (dates, running time)
    std::string_view codes;     ///< the codes, `width` bytes each, ' ' for a blank
    std::string_view name;      ///< English, from the source
};

/// What one code of an explained coded position means.
struct FixedCodeMeaning {
    std::string_view code;       ///< the code, as wide as the position's codes, ' ' for a blank
    std::string_view meaning;    ///< English, from the source
    std::string_view meaningZh;  ///< Chinese, never empty
    bool zhTranslated;           ///< the Chinese is a translation of the English, not a published one
};

/// The Chinese name of a coded position the tables explain (today MARC 21's
/// leader), and where the meanings of its codes are: kept beside the coded
/// positions so that the check's table stays compact.
struct FixedPositionMeanings {
    std::string_view block;     ///< as the coded position's FixedCodeRule::block
    std::string_view material;  ///< as its FixedCodeRule::material
    std::uint8_t position;      ///< as its FixedCodeRule::position
    std::string_view nameZh;    ///< Chinese; the English is the FixedCodeRule's name
    bool zhTranslated;          ///< the Chinese name is a translation of the English, not a published one
    std::uint16_t firstMeaning;  ///< into the set's code meaning table
    std::uint16_t meaningCount;  ///< one for each code of the position, in the order of its codes
};

/// One field a format defines.
struct FieldRule {
    std::string_view tag;
    std::string_view name;        ///< English, from the source
    std::string_view indicator1;  ///< the values allowed, ' ' for a blank
    std::string_view indicator2;
    /// A fixed field whose length depends on its first byte (007):
    /// "a:8,c:6|14,…", each category with its lengths; empty otherwise.
    std::string_view lengthsByCategory;
    std::uint16_t firstSubfield;  ///< into the set's subfield table
    std::uint16_t subfieldCount;
    std::uint8_t length;          ///< a fixed field's length in bytes; 0 when not fixed
    bool repeatable;
    bool control;                 ///< a control field: no indicators, no subfields
    std::string_view nameZh;      ///< Chinese
    std::string_view indicator1Name;  ///< English, from the source; empty where it names none
    std::string_view indicator1NameZh;
    std::string_view indicator2Name;
    std::string_view indicator2NameZh;
    bool zhTranslated;            ///< the Chinese names are translations of the English, not published ones
    /// The sources name the field and some of its subfields, but not the whole
    /// set, its indicators or what repeats: none of those is reported.
    bool open;
    std::uint16_t firstIndicatorValue;  ///< into the set's indicator value table
    std::uint8_t indicator1ValueCount;  ///< first indicator's values, then the second's
    std::uint8_t indicator2ValueCount;
};

/// The rules of one format.
struct RuleSetTables {
    std::span<const FieldRule> fields;  ///< sorted by tag
    std::span<const SubfieldRule> subfields;
    std::span<const std::string_view> mandatory;  ///< tags that must be present
    bool oneMainEntry;  ///< at most one 1XX field
    std::span<const IndicatorValueRule> indicatorValues;
    std::span<const FixedCodeRule> fixedCodes;  ///< coded positions of the leader and fixed fields, in order
    /// MARC 21 bibliographic: pairs of a form of material (006/00) and the
    /// 008 material it takes ("aBK", "mCF", "sCR"); each form but 's' is also
    /// the type of record (leader/06) of that material. Empty for a set
    /// without materials.
    std::string_view materialByForm;
    /// The coded positions that carry names and meanings, in the order of fixedCodes.
    std::span<const FixedPositionMeanings> fixedPositionMeanings;
    std::span<const FixedCodeMeaning> fixedCodeMeanings;

    /// The field's rule, or nullptr for a tag the set does not define.
    [[nodiscard]] const FieldRule* field(std::string_view tag) const;
    /// The rule of a subfield code in a field, or nullptr.
    [[nodiscard]] const SubfieldRule* subfield(const FieldRule& field, char code) const;
    /// The values an indicator (1 or 2) of a field may hold, with their
    /// meanings in English and Chinese; empty where the source gives none.
    [[nodiscard]] std::span<const IndicatorValueRule> indicatorValuesOf(const FieldRule& field, int which) const;
    /// The Chinese name and code meanings of a coded position, or nullptr
    /// where the tables explain none (UNIMARC's positions, MARC 21's 006-008).
    [[nodiscard]] const FixedPositionMeanings* meaningsOf(const FixedCodeRule& rule) const;
    /// What each code of an explained position means, in the order of its codes.
    [[nodiscard]] std::span<const FixedCodeMeaning> codeMeaningsOf(const FixedPositionMeanings& position) const;
    /// What `code` (as wide as the rule's codes) means at a coded position,
    /// or nullptr for a code the position does not define or a position the
    /// tables do not explain.
    [[nodiscard]] const FixedCodeMeaning* codeMeaning(const FixedCodeRule& rule, std::string_view code) const;
};

[[nodiscard]] const RuleSetTables& Marc21Bibliographic();
[[nodiscard]] const RuleSetTables& Marc21Authority();
[[nodiscard]] const RuleSetTables& UnimarcBibliographic();
/// UNIMARC with the Chinese national fields and mandatory fields of CNMARC.
[[nodiscard]] const RuleSetTables& CnmarcBibliographic();

/// Whether three lowercase letters are an ISO 639-2 language code (the
/// terminology or the bibliographic form).
[[nodiscard]] bool IsIso639_2(std::string_view code);
/// Whether two uppercase letters are an ISO 3166-1 alpha-2 country code.
[[nodiscard]] bool IsIso3166Alpha2(std::string_view code);
/// Whether three bytes are a current code of the MARC Code List for Languages.
[[nodiscard]] bool IsMarcLanguage(std::string_view code);
/// Whether three bytes are a current code of the MARC Code List for Countries
/// (a two-letter code with a blank after it, as 008/15-17 holds it).
[[nodiscard]] bool IsMarcCountry(std::string_view code);

}  // namespace veltrane::rules

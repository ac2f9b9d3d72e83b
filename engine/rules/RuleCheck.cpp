// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleCheck.h"

#include <algorithm>
#include <array>
#include <functional>

#include "charset/ByteWords.h"
#include "rules/FaultlessBlocks.h"
#include "rules/FieldPlans.h"
#include "rules/FindingText.h"
#include "rules/FixedCodes.h"
#include "rules/RuleIndex.h"
#include "rules/RuleTables.h"
#include "rules/StandardNumbers.h"

namespace veltrane {

using rules::FieldPlan;
using rules::FieldRule;
using rules::ValueCheck;
using rules::RuleSetTables;

namespace {

// Leader byte 6, the type of record.
constexpr std::size_t kRecordTypeOffset = 6;
// MARC 21 record types without a bibliographic rule set: holdings (u, v, x,
// y), classification (w), community information (q); authority (z) is told
// apart because it is a format of its own.
constexpr std::string_view kMarc21OtherTypes = "uvxywq";
// UNIMARC authority records: x, y, z.
constexpr std::string_view kUnimarcAuthorityTypes = "xyz";
// UNIMARC 100 $a, the general processing data, holds 36 characters.
constexpr std::size_t kUnimarcGeneralDataLength = 36;
// The blocks of the rule tables that hold the coded positions of UNIMARC's
// coded subfields: 100 $a (general processing data), then 105 $a and 106 $a.
constexpr std::string_view kGeneralDataBlock = rules::FieldPlans::kGeneralDataBlock;
// A block of positions within a subfield ends with the subfield's code.
constexpr std::string_view kSubfieldABlockEnd = " $a";

std::string_view text(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool isMarc21(RuleSet set)
{
    return set == RuleSet::Marc21 || set == RuleSet::Marc21Authority;
}

/// The plans of a rule set (not None), made once.
const rules::FieldPlans& FieldPlansOf(RuleSet set)
{
    using rules::FormatKind;
    static const rules::FieldPlans marc21(FormatKind::Marc21Bibliographic, rules::Marc21Bibliographic());
    static const rules::FieldPlans marc21Authority(FormatKind::Marc21Authority, rules::Marc21Authority());
    static const rules::FieldPlans unimarc(FormatKind::Unimarc, rules::UnimarcBibliographic());
    static const rules::FieldPlans cnmarc(FormatKind::Unimarc, rules::CnmarcBibliographic());
    switch (set) {
    case RuleSet::Marc21: return marc21;
    case RuleSet::Marc21Authority: return marc21Authority;
    case RuleSet::Cnmarc: return cnmarc;
    default: return unimarc;
    }
}

bool isControlTag(std::string_view tag)
{
    return tag.size() == 3 && tag[0] == '0' && tag[1] == '0';
}



/// A MARC 21 field's $6 that links it to another: the linked tag, the
/// occurrence number, and where the field is.
struct Link {
    std::size_t field;
    int occurrence;
    std::string_view tag, target, number;
};

/// What the check of one record keeps from record to record, so that it
/// allocates nothing once the thread has seen a few.
struct RuleScratch {
    rules::FaultlessBlocks faultless;
    rules::TagOccurrences occurrences;
    /// Of each field: its tag number (TagNumber) and its occurrence among
    /// fields with its tag.
    struct FieldTag {
        int number, occurrence;
    };
    std::vector<FieldTag> tags;
    std::vector<Link> links;
};

RuleScratch& ThreadScratch()
{
    thread_local RuleScratch scratch;
    return scratch;
}

class RuleChecker {
public:
    RuleChecker(Iso2709Reader& reader, RuleSet set, const RuleContext& context, std::vector<RuleFinding>& out)
        : m_reader(reader), m_set(set), m_context(context), m_out(out), m_plans(FieldPlansOf(set)), m_index(m_plans.index()),
          m_tables(m_index.tables()), m_delimiter(SubfieldDelimiter(context.mode))
    {
    }

    void run()
    {
        const auto fields = m_reader.fields();
        // Each field's tag number and occurrence, and the tags present, first.
        auto& tags = m_scratch.tags;
        tags.clear();
        m_scratch.occurrences.clear();
        for (const IsoField& f : fields) {
            const int number = rules::TagNumber(f.tag);
            tags.push_back({number, m_scratch.occurrences.next(number, f.tag)});
        }
        checkMandatory();
        checkLeaderCodes();
        m_scratch.links.clear();
        std::string_view mainEntry;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string_view tag = fields[i].tag;
            m_tagNumber = tags[i].number;
            const int occurrence = tags[i].occurrence;
            m_at = fieldOffset(fields[i]);
            m_tag = tag;
            m_occurrence = occurrence;
            m_field = i;
            m_split = false;
            m_walked = false;
            if (m_tables.oneMainEntry && tag.size() == 3 && tag[0] == '1') {
                if (mainEntry.empty())
                    mainEntry = tag;
                else
                    add(FindRuleCode("conflicting-fields"), [&] { return "field " + shownTag(tag) + " is a second 1XX field, after " +
                                                  shownTag(mainEntry); });
            }
            checkField();
            if (isMarc21(m_set) && !isControlTag(tag))
                noteLink(i, tag, occurrence);
        }
        checkLinks();
    }

private:
    /// Where a field's data starts in the record; 0 for a field with none
    /// within the record (it starts past the end).
    std::size_t fieldOffset(const IsoField& field) const
    {
        const auto record = m_context.record;
        const auto* data = field.data.data();
        const std::less<const unsigned char*> before;
        if (field.data.empty() || before(data, record.data()) || !before(data, record.data() + record.size()))
            return 0;
        return static_cast<std::size_t>(data - record.data());
    }

    /// A tag or other record bytes as a message quotes them: controls and
    /// bytes past ASCII as '?'.
    static std::string shownTag(std::string_view bytes)
    {
        return PrintableBytes({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
    }

    /// Adds a finding at the current field; `message()` makes its text, only
    /// when findings are wanted with one (most findings of a large file are
    /// only counted).
    template <typename Message>
    void add(const RuleCode& code, Message&& message, int indicator = 0, char subfield = 0, int position = -1)
    {
        RuleFinding& f = m_out.emplace_back();
        f.at = m_at;
        f.code = code.code;
        f.severity = code.severity;
        if (m_context.messages)
            f.message = message();
        f.tag = m_tag;
        f.occurrence = m_occurrence;
        f.indicator = indicator;
        f.subfield = subfield;
        f.position = position;
    }

    std::string fieldName() const
    {
        std::string name = "field " + shownTag(m_tag);
        if (m_occurrence > 1)
            name += " (occurrence " + std::to_string(m_occurrence) + ")";
        return name;
    }

    /// The current field taken apart at its subfield delimiters, once.
    std::span<const IsoSubfield> subfields()
    {
        if (!m_split) {
            const IsoDataField field = m_reader.dataField(m_field, m_controls);
            m_indicators = field.indicators;
            m_subfields = field.subfields;
            m_split = true;
        }
        return m_subfields;
    }

    void checkMandatory()
    {
        const auto fields = m_reader.fields();
        m_at = 0;
        m_occurrence = 0;
        for (std::size_t k = 0; k < m_tables.mandatory.size(); ++k) {
            const std::string_view tag = m_tables.mandatory[k];
            const int number = m_index.mandatoryNumber(k);
            const bool present =
                number >= 0 ? m_scratch.occurrences.count(number) > 0
                            : std::any_of(fields.begin(), fields.end(), [&](const IsoField& f) { return f.tag == tag; });
            if (!present) {
                m_tag = tag;
                add(FindRuleCode("missing-field"), [&] { return "field " + shownTag(tag) + " is missing"; });
            }
        }
    }

    void checkField()
    {
        if (isMarc21(m_set) && m_tagNumber == 880) {
            checkAlternateScript();
            return;
        }
        if (m_tagNumber >= 0) {
            checkField(m_plans[m_tagNumber], false);
            return;
        }
        checkField(m_plans.planOf(m_tag, m_index.field(m_tagNumber, m_tag)), false);
    }

    /// An 880 follows the rules of the field its $6 names, without their
    /// checks of values and of a title; it is never undefined or repeated.
    void checkAlternateScript()
    {
        const auto linkage = firstSubfield('6');
        if (!linkage) {
            add(FindRuleCode("broken-link"), [&] { return fieldName() + " has no $6"; }, 0, '6');
            return;
        }
        if (linkage->size() < 3)
            return;
        const std::string_view ruleTag = linkage->substr(0, 3);
        const FieldRule* rule = m_index.field(rules::TagNumber(ruleTag), ruleTag);
        FieldPlan plan = m_plans.planOf(ruleTag, rule);
        plan.control = rule != nullptr && rule->control;
        plan.valueCheck = ValueCheck::None;
        plan.titleField = plan.codesFromAnyList = plan.embedsFields = false;
        checkField(plan, true);
    }

    void checkField(const FieldPlan& plan, bool alternateScript)
    {
        // The field's bytes up to its terminator, for a field not taken apart into subfields.
        const auto body = [&] { return m_reader.body(m_field); };
        if (plan.rule == nullptr) {
            if (!plan.local && !alternateScript)
                add(FindRuleCode("undefined-field"), [&] { return fieldName() + " is not defined in " + std::string(RuleSetName(m_set)); });
            checkControlCharacters(body());
            return;
        }
        if (m_occurrence > 1 && !plan.rule->repeatable && !alternateScript)
            add(FindRuleCode("repeated-field"), [&] { return fieldName() + " repeats, but " + shownTag(m_tag) + " is not repeatable"; });
        if (plan.control) {
            checkControlField(*plan.rule, body());
            return;
        }
        checkDataField(plan);
    }

    void checkControlField(const FieldRule& rule, std::span<const unsigned char> body)
    {
        if (std::find(body.begin(), body.end(), m_delimiter) != body.end())
            add(FindRuleCode("subfield-in-control-field"), [&] { return "control " + fieldName() + " holds a subfield delimiter"; });
        checkControlCharacters(body);
        if (rule.length != 0 && body.size() != rule.length)
            add(FindRuleCode("bad-fixed-length"), [&] {
                return fieldName() + " is " + std::to_string(body.size()) + " bytes long, not " +
                       std::to_string(rule.length);
            });
        // A fixed field of the wrong length has its codes where they would
        // be in another layout: only its length is told.
        if (!rule.lengthsByCategory.empty() && !body.empty() && checkCategoryLength(rule.lengthsByCategory, body))
            checkCodedPositions("007", text(body.first(1)), body);
        if (m_set == RuleSet::Marc21 && m_tagNumber == 8 && body.size() == rule.length)
            checkFixedCodes(body);
        if (m_tagNumber == 8 && body.size() == rule.length) {
            // Leader/06, the type of record, and 07, the bibliographic level, choose the material.
            const auto leader = m_reader.leader();
            checkCodedPositions("008",
                                rules::MaterialOfRecord(m_tables, leader[kRecordTypeOffset], leader[kRecordTypeOffset + 1]),
                                body);
        }
        if (m_tagNumber == 6 && body.size() == rule.length) {
            // 006/00, the form of material, chooses the material; 006/01-17
            // hold what 008/18-34 of that material do.
            checkCodedPositions("006", {}, body);
            if (const auto material = rules::MaterialOfForm(m_tables, body[0]); !material.empty())
                checkCodedPositions("008", material, body, rules::k006ShiftFrom008);
        }
    }

    /// The coded positions of the leader, against the codes the set's list gives them.
    void checkLeaderCodes()
    {
        m_at = 0;
        m_tag = {};
        m_occurrence = 0;
        checkCodedPositions(rules::FieldPlans::kLeaderBlock, {}, m_reader.leader());
    }

    /// Each coded position of a leader or fixed field (those of every such
    /// field, and those of its material or category) holds one of its codes;
    /// one finding a position, at its first byte that is not. A 006 is
    /// checked by the rules of 008, `shift` bytes on.
    void checkCodedPositions(std::string_view block, std::string_view material, std::span<const unsigned char> bytes,
                             std::size_t shift = 0)
    {
        const rules::CodedBlock& coded = m_plans.codedBlock(block, material);
        const bool memorable = shift == 0 && rules::FaultlessBlocks::memorable(coded, bytes);
        if (memorable && m_scratch.faultless.holds(coded, bytes))
            return;
        const std::size_t findings = m_out.size();
        // The positions of a UNIMARC coded subfield count from the subfield's first byte.
        const bool inSubfield = block.ends_with(kSubfieldABlockEnd);
        rules::FindFixedCodeFaults(coded, bytes, shift, [&](const rules::FixedCodeRule& rule, std::size_t at) {
            add(FindRuleCode("bad-fixed-value"),
                [&] {
                    const auto value = bytes.subspan(at, rule.width);
                    const std::string where = block == "LDR" ? "leader/" + rules::PositionText(at)
                                                             : fieldName() + (inSubfield ? " $a/" : "/") + rules::PositionText(at);
                    // A value of several bytes shows each blank as '#', as the format's lists write it.
                    std::string shownValue =
                        value.size() == 1 ? rules::Shown(static_cast<char>(value[0])) : PrintableBytes(value);
                    if (value.size() > 1)
                        std::replace(shownValue.begin(), shownValue.end(), ' ', '#');
                    std::string of;
                    if (!rule.material.empty())
                        of = rule.block == "007" ? " (category " + shownTag(rule.material) + ")"
                                                 : " (" + std::string(rule.material) + ")";
                    return where + " " + shownValue + " is not a code of " + std::string(rule.name) + of;
                },
                0, inSubfield ? 'a' : 0, static_cast<int>(at));
        });
        if (memorable && m_out.size() == findings)
            m_scratch.faultless.remember(coded, bytes);
    }

    /// MARC 21 008/15-17, the place of publication, and 008/35-37, the
    /// language; blanks (no information) and fill characters ('|') are no code.
    void checkFixedCodes(std::span<const unsigned char> body)
    {
        constexpr std::size_t kCountryAt = 15, kLanguageAt = 35, kCodeLength = 3;
        auto coded = [](std::string_view code) { return code.find_first_not_of(" |") != std::string_view::npos; };
        const std::string_view country = text(body.subspan(kCountryAt, kCodeLength));
        if (coded(country) && !rules::IsMarcCountry(country))
            add(FindRuleCode("unknown-code"), [&] { return fieldName() + "/15-17 " + PrintableBytes(body.subspan(kCountryAt, kCodeLength)) +
                                    " is not a MARC country code"; },
                0, 0, static_cast<int>(kCountryAt));
        const std::string_view language = text(body.subspan(kLanguageAt, kCodeLength));
        if (coded(language) && !rules::IsMarcLanguage(language))
            add(FindRuleCode("unknown-code"), [&] { return fieldName() + "/35-37 " + PrintableBytes(body.subspan(kLanguageAt, kCodeLength)) +
                                    " is not a MARC language code"; },
                0, 0, static_cast<int>(kLanguageAt));
    }

    /// "a:8,c:6|14,…": the lengths a field may have for the category its
    /// first byte names. False when the field has none of them.
    bool checkCategoryLength(std::string_view lengths, std::span<const unsigned char> body)
    {
        const char category = static_cast<char>(body[0]);
        while (!lengths.empty()) {
            const std::size_t comma = lengths.find(',');
            std::string_view entry = lengths.substr(0, comma);
            lengths = comma == std::string_view::npos ? std::string_view() : lengths.substr(comma + 1);
            if (entry.size() < 3 || entry[0] != category)
                continue;
            std::string_view allowed = entry.substr(2);
            std::string shownLengths;
            while (!allowed.empty()) {
                const std::size_t bar = allowed.find('|');
                const std::string_view one = allowed.substr(0, bar);
                if (std::to_string(body.size()) == one)
                    return true;
                shownLengths += (shownLengths.empty() ? "" : " or ") + std::string(one);
                allowed = bar == std::string_view::npos ? std::string_view() : allowed.substr(bar + 1);
            }
            add(FindRuleCode("bad-fixed-length"), [&] {
                return fieldName() + " of category " + rules::Shown(category) + " is " + std::to_string(body.size()) +
                       " bytes long, not " + shownLengths;
            });
            return false;
        }
        return true;
    }


    /// The check of one data field's indicators and subfields, told to it
    /// in order as the field is taken apart.
    class SubfieldCheck {
    public:
        /// `controls`: the field holds control characters, each subfield's told.
        SubfieldCheck(RuleChecker& checker, const FieldPlan& plan, bool controls)
            : m_checker(checker), m_plan(plan), m_controls(controls)
        {
        }

        /// The subfields to come, when `valueCheck` needs them all.
        void indicators(std::span<const unsigned char> indicators, std::span<const IsoSubfield> subfields = {})
        {
            // Only names are known of an open field: what its data holds is
            // not checked. A field its source names with no subfields at all
            // is so too: MARC 21's holdings fields 841-88X in a bibliographic
            // record, which the holdings format describes.
            if (m_plan.open)
                return;
            if (indicators.size() == 2) {
                m_checker.checkIndicator(m_plan, 1, indicators[0]);
                m_checker.checkIndicator(m_plan, 2, indicators[1]);
            }
            m_valueCheck = m_plan.valueCheck;
            if (m_plan.codesFromAnyList &&
                ((indicators.size() == 2 && indicators[1] == '7') ||
                 std::any_of(subfields.begin(), subfields.end(),
                             [](const IsoSubfield& s) { return !s.code.empty() && s.code[0] == '2'; })))
                m_valueCheck = ValueCheck::None;
            if (m_controls)
                m_checker.checkControlCharacters(indicators);
        }

        void subfield(const IsoSubfield& s)
        {
            if (m_controls)
                m_checker.checkControlCharacters(s.value);
            if (s.code.empty())
                return;  // a structural problem, told already
            const unsigned char code = s.code[0];
            if (code == '6' && !m_linkage)
                m_linkage = text(s.value);
            // In a UNIMARC 4XX, what follows $1 is an embedded field with rules of its own.
            if (m_plan.embedsFields && code == '1')
                m_embedded = true;
            if (m_plan.open || m_embedded)
                return;
            const char shownCode = static_cast<char>(code);
            if (!m_plan.defined->contains(code)) {
                m_checker.add(FindRuleCode("undefined-subfield"),
                              [&] { return m_checker.fieldName() + " has subfield $" + rules::Shown(shownCode) + ", not defined there"; },
                              0, shownCode);
                return;
            }
            // Told once, at the second of a subfield that may not repeat.
            if (!m_seen.contains(code)) {
                m_seen.insert(code);
            } else if (!m_repeated.contains(code)) {
                m_repeated.insert(code);
                if (!m_plan.repeatable->contains(code))
                    m_checker.add(FindRuleCode("repeated-subfield"),
                                  [&] {
                                      return m_checker.fieldName() + " repeats subfield $" + rules::Shown(shownCode) +
                                             ", which is not repeatable";
                                  },
                                  0, shownCode);
            }
            if (m_valueCheck != ValueCheck::None)
                m_checker.checkValue(m_valueCheck, shownCode, s.value);
        }

        /// After the last subfield.
        void finish()
        {
            if (!m_plan.open && m_plan.titleField && !m_seen.contains('a'))
                m_checker.add(FindRuleCode("missing-subfield"), [&] { return m_checker.fieldName() + " has no subfield $a"; },
                              0, 'a');
        }

        /// The value of the first $6, if the field had one.
        [[nodiscard]] std::optional<std::string_view> linkage() const { return m_linkage; }

    private:
        RuleChecker& m_checker;
        const FieldPlan& m_plan;
        bool m_controls;
        bool m_embedded = false;
        rules::ByteSet m_seen, m_repeated;
        ValueCheck m_valueCheck = ValueCheck::None;
        std::optional<std::string_view> m_linkage;
    };

    void checkDataField(const FieldPlan& plan)
    {
        // MARC 21 041 and 044 look at all their subfields before the first.
        if (!m_split && !plan.codesFromAnyList) {
            // Most fields hold no control character, and are checked as they
            // are taken apart; one that does is checked again the long way,
            // each control told where it stands.
            const std::size_t findings = m_out.size();
            SubfieldCheck check(*this, plan, false);
            if (!m_reader.walkDataField(m_field, check)) {
                check.finish();
                m_walkedLinkage = check.linkage();
                m_walked = true;
                return;
            }
            m_out.resize(findings);
        }
        const std::span<const IsoSubfield> fieldSubfields = subfields();
        SubfieldCheck check(*this, plan, m_controls);
        check.indicators(m_indicators, fieldSubfields);
        for (const IsoSubfield& s : fieldSubfields)
            check.subfield(s);
        check.finish();
    }

    void checkIndicator(const FieldPlan& plan, int which, unsigned char value)
    {
        if ((which == 1 ? plan.indicator1 : plan.indicator2)->contains(value))
            return;
        const std::string_view allowed = which == 1 ? plan.rule->indicator1 : plan.rule->indicator2;
        add(FindRuleCode("bad-indicator"), [&] { return fieldName() + " indicator " + std::to_string(which) + " is " +
                                 rules::Shown(static_cast<char>(value)) + ", not one of " + rules::ShownValues(allowed); },
            which);
    }



    /// The checks of one subfield's value that the tables cannot say.
    void checkValue(ValueCheck check, char code, std::span<const unsigned char> value)
    {
        switch (check) {
        case ValueCheck::None: return;
        case ValueCheck::Isbn:
            if (code == 'a')
                checkStandardNumber(FindRuleCode("bad-isbn"), "ISBN", rules::CheckIsbn(text(value)), value);
            return;
        case ValueCheck::Issn:
            if (code == 'a')
                checkStandardNumber(FindRuleCode("bad-issn"), "ISSN", rules::CheckIssn(text(value)), value);
            return;
        case ValueCheck::MarcLanguages: {
            if (std::string_view("abdefghjkmn").find(code) == std::string_view::npos)
                return;
            // Older records run several codes together ("engfre").
            const std::string_view codes = text(value);
            bool known = !codes.empty() && codes.size() % 3 == 0;
            for (std::size_t k = 0; known && k < codes.size(); k += 3)
                known = rules::IsMarcLanguage(codes.substr(k, 3));
            if (!known)
                add(FindRuleCode("unknown-code"), [&] { return fieldName() + " $" + rules::Shown(code) + " " + PrintableBytes(value) +
                                        " is not a MARC language code"; },
                    0, code);
            return;
        }
        case ValueCheck::MarcCountry: {
            if (code != 'a')
                return;
            std::string country(text(value));
            if (country.size() == 2)
                country += ' ';
            if (!rules::IsMarcCountry(country))
                add(FindRuleCode("unknown-code"), [&] { return fieldName() + " $a " + PrintableBytes(value) + " is not a MARC country code"; }, 0,
                    code);
            return;
        }
        case ValueCheck::CodedPositions:
            // 105 and 106 have no length of their own to tell: each position present is checked.
            if (code == 'a')
                checkCodedPositions(std::string(m_tag) + std::string(kSubfieldABlockEnd), {}, value);
            return;
        case ValueCheck::GeneralData:
            if (code != 'a')
                return;
            // Of the wrong length, its codes stand where others are expected: only the length is told.
            if (value.size() == kUnimarcGeneralDataLength)
                checkCodedPositions(kGeneralDataBlock, {}, value);
            else
                add(FindRuleCode("bad-fixed-length"), [&] {
                    return fieldName() + " $a is " + std::to_string(value.size()) + " bytes long, not " +
                           std::to_string(kUnimarcGeneralDataLength);
                }, 0, code);
            return;
        case ValueCheck::Iso639:
            if (code >= 'a' && code <= 'j' && !rules::IsIso639_2(text(value)))
                add(FindRuleCode("unknown-code"), [&] { return fieldName() + " $" + rules::Shown(code) + " " + PrintableBytes(value) +
                                        " is not an ISO 639-2 language code"; },
                    0, code);
            return;
        case ValueCheck::Iso3166:
            if (code == 'a' && !rules::IsIso3166Alpha2(text(value)))
                add(FindRuleCode("unknown-code"), [&] { return fieldName() + " $a " + PrintableBytes(value) +
                                        " is not an ISO 3166-1 alpha-2 country code"; },
                    0, code);
            return;
        }
    }

    /// An ISBN's or ISSN's fault, if it has one.
    void checkStandardNumber(const RuleCode& code, std::string_view number, rules::NumberFault fault,
                             std::span<const unsigned char> value)
    {
        if (fault == rules::NumberFault::None)
            return;
        add(code, [&] { return fieldName() + " $a " + PrintableBytes(value) + " is not an " + std::string(number) + " (" +
                            (fault == rules::NumberFault::Length ? "length" : "check digit") + ")"; },
            0, 'a');
    }


    /// C0 characters in data; ESC starts a character set change in MARC-8.
    void checkControlCharacters(std::span<const unsigned char> bytes)
    {
        constexpr unsigned char kEscape = 0x1B;
        // Eight bytes at a time while none is below 0x20 (a byte's high bit
        // after subtracting 0x20, where it had none before): most data has none.
        std::size_t i = 0;
        while (i + 8 <= bytes.size()) {
            const std::uint64_t word = LoadWord(bytes.data() + i);
            if (((word - kOnes * 0x20) & ~word & kHighBits) != 0)
                break;
            i += 8;
        }
        for (unsigned char b : bytes.subspan(i)) {
            if (b >= 0x20 || b == m_delimiter || (b == kEscape && m_context.charset == Charset::Marc8))
                continue;
            add(FindRuleCode("control-character"), [&] { return fieldName() + " holds control character " + PrintableHex(b); });
            return;
        }
    }

    static std::string PrintableHex(unsigned char b)
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        return std::string("0x") + kHex[b >> 4] + kHex[b & 0xF];
    }

    /// The value of the current field's first $6, if it has one.
    std::optional<std::string_view> linkage()
    {
        return m_walked && !m_split ? m_walkedLinkage : firstSubfield('6');
    }

    std::optional<std::string_view> firstSubfield(char code)
    {
        for (const IsoSubfield& s : subfields())
            if (!s.code.empty() && s.code[0] == static_cast<unsigned char>(code))
                return text(s.value);
        return std::nullopt;
    }

    /// Keeps the $6 link of field i, the current one, for checkLinks.
    void noteLink(std::size_t i, std::string_view tag, int occurrence)
    {
        const auto linkage = this->linkage();
        if (!linkage || linkage->size() < 6 || (*linkage)[3] != '-')
            return;
        m_scratch.links.push_back({i, occurrence, tag, linkage->substr(0, 3), linkage->substr(4, 2)});
    }

    /// MARC 21 linkage: an 880's $6 "245-01" needs a 245 whose $6 is
    /// "880-01", and the other way round; occurrence 00 links to nothing.
    void checkLinks()
    {
        const auto fields = m_reader.fields();
        const std::vector<Link>& links = m_scratch.links;
        for (const Link& link : links) {
            if (link.number == "00" || (link.tag != "880" && link.target != "880"))
                continue;
            const bool linkedBack = std::any_of(links.begin(), links.end(), [&](const Link& other) {
                return other.tag == link.target && other.target == link.tag && other.number == link.number;
            });
            if (linkedBack)
                continue;
            m_tag = link.tag;
            m_occurrence = link.occurrence;
            m_at = fieldOffset(fields[link.field]);
            add(FindRuleCode("broken-link"), [&] { return fieldName() + " $6 links to " + shownTag(link.target) + "-" +
                                   shownTag(link.number) + ", which does not link back"; },
                0, '6');
        }
    }

    Iso2709Reader& m_reader;
    RuleSet m_set;
    const RuleContext& m_context;
    std::vector<RuleFinding>& m_out;
    const rules::FieldPlans& m_plans;
    const rules::RuleIndex& m_index;
    const RuleSetTables& m_tables;
    // The thread's, so that checking a record allocates nothing; found once a
    // record, as a thread-local object is found through a call.
    RuleScratch& m_scratch = ThreadScratch();
    unsigned char m_delimiter;
    std::size_t m_at = 0;
    std::string_view m_tag;
    int m_tagNumber = -1;  ///< TagNumber(m_tag) of the current field
    int m_occurrence = 0;
    std::size_t m_field = 0;  ///< the current field's entry
    bool m_split = false;     ///< m_indicators and m_subfields are the current field's
    std::span<const unsigned char> m_indicators;
    std::span<const IsoSubfield> m_subfields;  ///< in the reader, until it takes the next field apart
    bool m_walked = false;  ///< the current field was checked as it was taken apart, into no m_subfields
    std::optional<std::string_view> m_walkedLinkage;  ///< its first $6 then
    bool m_controls = false;  ///< the current field's bytes, once split, hold a control other than the delimiter
};


}  // namespace

RuleSet ChooseRuleSet(RuleSetting setting, Iso2709Reader& reader, Charset charset)
{
    switch (setting) {
    case RuleSetting::None: return RuleSet::None;
    case RuleSetting::Marc21: return reader.leader()[kRecordTypeOffset] == 'z' ? RuleSet::Marc21Authority : RuleSet::Marc21;
    case RuleSetting::Unimarc: return RuleSet::Unimarc;
    case RuleSetting::Cnmarc: return RuleSet::Cnmarc;
    case RuleSetting::Auto: break;
    }
    if (!reader.unimarcShaped())
        return reader.leader()[kRecordTypeOffset] == 'z' ? RuleSet::Marc21Authority : RuleSet::Marc21;
    if (charset == Charset::Gbk || charset == Charset::Gb18030)
        return RuleSet::Cnmarc;
    const auto fields = reader.fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].tag != "801")
            continue;
        // 801 $a names the originating agency's country.
        for (const IsoSubfield& s : reader.dataField(i).subfields)
            if (!s.code.empty() && s.code[0] == 'a' && text(s.value) == "CN")
                return RuleSet::Cnmarc;
    }
    return RuleSet::Unimarc;
}

RuleSet CheckRecordRules(Iso2709Reader& reader, RuleSetting setting, const RuleContext& context,
                         std::vector<RuleFinding>& out)
{
    RuleSet set = ChooseRuleSet(setting, reader, context.charset);
    if (set == RuleSet::None)
        return set;
    const char type = static_cast<char>(reader.leader()[kRecordTypeOffset]);
    std::string_view uncovered;
    if (set == RuleSet::Marc21 && kMarc21OtherTypes.find(type) != std::string_view::npos)
        uncovered = "MARC 21 holdings, classification and community records have no rule set";
    else if (!isMarc21(set) && kUnimarcAuthorityTypes.find(type) != std::string_view::npos)
        uncovered = "UNIMARC authority records have no rule set";
    if (!uncovered.empty()) {
        constexpr const RuleCode& kNoRules = FindRuleCode("no-rules");
        RuleFinding f;
        f.code = kNoRules.code;
        f.severity = kNoRules.severity;
        if (context.messages)
            f.message = std::string(uncovered) + " (leader byte 6 is " + rules::Shown(type) + ")";
        f.position = static_cast<int>(kRecordTypeOffset);
        out.push_back(std::move(f));
        return set;
    }
    RuleChecker(reader, set, context, out).run();
    return set;
}

}  // namespace veltrane

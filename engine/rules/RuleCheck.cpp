// SPDX-License-Identifier: Apache-2.0
#include "rules/RuleCheck.h"

#include <algorithm>
#include <array>
#include <functional>

#include "charset/ByteWords.h"
#include "rules/FixedCodes.h"
#include "rules/RuleIndex.h"
#include "rules/RuleTables.h"
#include "rules/StandardNumbers.h"

namespace veltrane {

using rules::FieldRule;
using rules::RuleSetTables;

std::optional<RuleSetting> ParseRuleSetting(std::string_view name)
{
    if (name == "none")
        return RuleSetting::None;
    if (name == "auto")
        return RuleSetting::Auto;
    if (name == "marc21")
        return RuleSetting::Marc21;
    if (name == "unimarc")
        return RuleSetting::Unimarc;
    if (name == "cnmarc")
        return RuleSetting::Cnmarc;
    return std::nullopt;
}

std::string_view RuleSetName(RuleSet set)
{
    switch (set) {
    case RuleSet::Marc21: return "marc21";
    case RuleSet::Marc21Authority: return "marc21-authority";
    case RuleSet::Unimarc: return "unimarc";
    case RuleSet::Cnmarc: return "cnmarc";
    case RuleSet::None: break;
    }
    return "none";
}

std::string_view SeverityName(Severity severity)
{
    return severity == Severity::Error ? "error" : "warning";
}

Severity RuleCodeSeverity(std::string_view code)
{
    for (const RuleCode& c : kRuleCodes)
        if (c.code == code)
            return c.severity;
    return Severity::Error;
}

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
// coded subfields: 100 $a (general processing data), 105 $a (monograph coded
// data) and 106 $a (physical medium of textual material).
constexpr std::string_view kGeneralDataBlock = "100 $a";
constexpr std::string_view kCodedSubfieldBlocks[] = {"105 $a", "106 $a"};
// A block of positions within a subfield ends with the subfield's code.
constexpr std::string_view kSubfieldABlockEnd = " $a";

std::string_view text(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// Local fields (9XX, and X9X where the set does not define the tag) are the
/// library's own and never undefined.
bool isLocalTag(std::string_view tag)
{
    return tag.size() == 3 && (tag[0] == '9' || (tag[1] == '9' && tag[0] >= '0' && tag[0] <= '8'));
}

bool isControlTag(std::string_view tag)
{
    return tag.size() == 3 && tag[0] == '0' && tag[1] == '0';
}

std::string shown(char c)
{
    if (c == ' ')
        return "blank";
    const unsigned char b = static_cast<unsigned char>(c);
    return b >= 0x20 && b < 0x7F ? std::string(1, c) : PrintableBytes({&b, 1});
}

std::string shownValues(std::string_view values)
{
    std::string out;
    for (char c : values) {
        if (!out.empty())
            out += ", ";
        out += shown(c);
    }
    return out.empty() ? "none" : out;
}

bool isMarc21(RuleSet set)
{
    return set == RuleSet::Marc21 || set == RuleSet::Marc21Authority;
}

/// The two digits of a character position, as the format's lists write them ("06").
std::string positionText(std::size_t position)
{
    return std::string(1, static_cast<char>('0' + position / 10 % 10)) + static_cast<char>('0' + position % 10);
}

const rules::RuleIndex& RuleIndexOf(RuleSet set)
{
    static const rules::RuleIndex marc21(rules::Marc21Bibliographic());
    static const rules::RuleIndex unimarc(rules::UnimarcBibliographic());
    static const rules::RuleIndex cnmarc(rules::CnmarcBibliographic());
    static const rules::RuleIndex marc21Authority(rules::Marc21Authority());
    switch (set) {
    case RuleSet::Marc21: return marc21;
    case RuleSet::Marc21Authority: return marc21Authority;
    case RuleSet::Cnmarc: return cnmarc;
    default: return unimarc;
    }
}

/// Whether bytes may hold a byte checkControlCharacters tells: any below
/// `below`, eight at a time. Most fields hold none, and are looked at once.
bool mayHoldControls(std::span<const unsigned char> bytes, unsigned char below)
{
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t word = LoadWord(bytes.data() + i);
        // A byte under `below` has its high bit set after the subtraction
        // and had none before.
        if (((word - kOnes * below) & ~word & kHighBits) != 0)
            return true;
    }
    for (; i < bytes.size(); ++i)
        if (bytes[i] < below)
            return true;
    return false;
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
    rules::TagOccurrences occurrences;
    std::vector<int> tagNumbers;  ///< of each field
    std::vector<IsoSubfield> subfields;
    std::vector<Link> links;
};

class RuleChecker {
public:
    RuleChecker(Iso2709Reader& reader, RuleSet set, const RuleContext& context, std::vector<RuleFinding>& out)
        : m_reader(reader), m_set(set), m_context(context), m_out(out), m_index(RuleIndexOf(set)),
          m_tables(m_index.tables()), m_delimiter(SubfieldDelimiter(context.mode)),
          // Below it, a byte other than the delimiter is a control character.
          m_controlsBelow(m_delimiter == 0x1F ? 0x1F : 0x20)
    {
    }

    void run()
    {
        const auto fields = m_reader.fields();
        m_scratch.tagNumbers.clear();
        for (const IsoField& f : fields)
            m_scratch.tagNumbers.push_back(rules::TagNumber(f.tag));
        checkMandatory();
        checkLeaderCodes();
        m_scratch.occurrences.clear();
        m_scratch.links.clear();
        std::string_view mainEntry;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::string_view tag = fields[i].tag;
            m_tagNumber = m_scratch.tagNumbers[i];
            const int occurrence = m_scratch.occurrences.next(m_tagNumber, tag);
            m_at = fieldOffset(fields[i]);
            m_tag = tag;
            m_occurrence = occurrence;
            m_body = m_reader.body(i);
            m_split = false;
            if (m_tables.oneMainEntry && tag.size() == 3 && tag[0] == '1') {
                if (mainEntry.empty())
                    mainEntry = tag;
                else
                    add("conflicting-fields", [&] { return "field " + shownTag(tag) + " is a second 1XX field, after " +
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
    void add(std::string_view code, Message&& message, int indicator = 0, char subfield = 0, int position = -1)
    {
        RuleFinding& f = m_out.emplace_back();
        f.at = m_at;
        f.code = code;
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
            m_indicators = SplitSubfields(m_body, m_context.mode, m_scratch.subfields);
            m_split = true;
        }
        return m_scratch.subfields;
    }

    void checkMandatory()
    {
        const auto fields = m_reader.fields();
        const auto& numbers = m_scratch.tagNumbers;
        m_at = 0;
        m_occurrence = 0;
        for (std::string_view tag : m_tables.mandatory) {
            const int number = rules::TagNumber(tag);
            const bool present =
                number >= 0 ? std::find(numbers.begin(), numbers.end(), number) != numbers.end()
                            : std::any_of(fields.begin(), fields.end(), [&](const IsoField& f) { return f.tag == tag; });
            if (!present) {
                m_tag = tag;
                add("missing-field", [&] { return "field " + shownTag(tag) + " is missing"; });
            }
        }
    }

    void checkField()
    {
        std::string_view ruleTag = m_tag;
        int ruleNumber = m_tagNumber;
        const bool alternateScript = isMarc21(m_set) && m_tagNumber == 880;
        if (alternateScript) {
            // An 880 follows the rules of the field its $6 names.
            const auto linkage = firstSubfield('6');
            if (!linkage) {
                add("broken-link", [&] { return fieldName() + " has no $6"; }, 0, '6');
                return;
            }
            if (linkage->size() < 3)
                return;
            ruleTag = linkage->substr(0, 3);
            ruleNumber = rules::TagNumber(ruleTag);
        }
        const FieldRule* rule = m_index.field(ruleNumber, ruleTag);
        const std::span<const unsigned char> body = m_body;
        if (rule == nullptr) {
            if (!isLocalTag(ruleTag) && !alternateScript)
                add("undefined-field", [&] { return fieldName() + " is not defined in " + std::string(RuleSetName(m_set)); });
            checkControlCharacters(body);
            return;
        }
        if (m_occurrence > 1 && !rule->repeatable && !alternateScript)
            add("repeated-field", [&] { return fieldName() + " repeats, but " + shownTag(m_tag) + " is not repeatable"; });
        if (rule->control || isControlTag(m_tag)) {
            checkControlField(*rule, body);
            return;
        }
        checkDataField(*rule);
    }

    void checkControlField(const FieldRule& rule, std::span<const unsigned char> body)
    {
        if (std::find(body.begin(), body.end(), m_delimiter) != body.end())
            add("subfield-in-control-field", [&] { return "control " + fieldName() + " holds a subfield delimiter"; });
        checkControlCharacters(body);
        if (rule.length != 0 && body.size() != rule.length)
            add("bad-fixed-length", [&] {
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
        checkCodedPositions("LDR", {}, m_reader.leader());
    }

    /// Each coded position of a leader or fixed field (those of every such
    /// field, and those of its material or category) holds one of its codes;
    /// one finding a position, at its first byte that is not. A 006 is
    /// checked by the rules of 008, `shift` bytes on.
    void checkCodedPositions(std::string_view block, std::string_view material, std::span<const unsigned char> bytes,
                             std::size_t shift = 0)
    {
        // The positions of a UNIMARC coded subfield count from the subfield's first byte.
        const bool inSubfield = block.ends_with(kSubfieldABlockEnd);
        rules::FindFixedCodeFaults(m_tables, block, material, bytes, shift,
                                   [&](const rules::FixedCodeRule& rule, std::size_t at) {
            add("bad-fixed-value",
                [&] {
                    const auto value = bytes.subspan(at, rule.width);
                    const std::string where = block == "LDR" ? "leader/" + positionText(at)
                                                             : fieldName() + (inSubfield ? " $a/" : "/") + positionText(at);
                    // A value of several bytes shows each blank as '#', as the format's lists write it.
                    std::string shownValue =
                        value.size() == 1 ? shown(static_cast<char>(value[0])) : PrintableBytes(value);
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
    }

    /// MARC 21 008/15-17, the place of publication, and 008/35-37, the
    /// language; blanks (no information) and fill characters ('|') are no code.
    void checkFixedCodes(std::span<const unsigned char> body)
    {
        constexpr std::size_t kCountryAt = 15, kLanguageAt = 35, kCodeLength = 3;
        auto coded = [](std::string_view code) { return code.find_first_not_of(" |") != std::string_view::npos; };
        const std::string_view country = text(body.subspan(kCountryAt, kCodeLength));
        if (coded(country) && !rules::IsMarcCountry(country))
            add("unknown-code", [&] { return fieldName() + "/15-17 " + PrintableBytes(body.subspan(kCountryAt, kCodeLength)) +
                                    " is not a MARC country code"; },
                0, 0, static_cast<int>(kCountryAt));
        const std::string_view language = text(body.subspan(kLanguageAt, kCodeLength));
        if (coded(language) && !rules::IsMarcLanguage(language))
            add("unknown-code", [&] { return fieldName() + "/35-37 " + PrintableBytes(body.subspan(kLanguageAt, kCodeLength)) +
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
            add("bad-fixed-length", [&] {
                return fieldName() + " of category " + shown(category) + " is " + std::to_string(body.size()) +
                       " bytes long, not " + shownLengths;
            });
            return false;
        }
        return true;
    }

    void checkDataField(const FieldRule& rule)
    {
        const std::span<const IsoSubfield> fieldSubfields = subfields();
        // A finding a subfield at most: looked for subfield by subfield only
        // where the whole field may hold one.
        const bool controls = mayHoldControls(m_body, m_controlsBelow);
        // Only names are known of it: what its data holds is not checked. A
        // field its source names with no subfields at all is so too: MARC
        // 21's holdings fields 841-88X in a bibliographic record, which the
        // holdings format describes.
        if (rule.open || rule.subfieldCount == 0) {
            for (const IsoSubfield& s : fieldSubfields)
                if (controls)
                    checkControlCharacters(s.value);
            return;
        }
        const std::span<const unsigned char> indicators = m_indicators;
        if (indicators.size() == 2) {
            checkIndicator(1, indicators[0], rule.indicator1);
            checkIndicator(2, indicators[1], rule.indicator2);
        }
        // MARC 21 041 and 044 hold MARC codes unless the second indicator is
        // 7 (041: the source is in $2) or a $2 names another list (044).
        m_marcCodes = !(indicators.size() == 2 && indicators[1] == '7') &&
                      std::none_of(fieldSubfields.begin(), fieldSubfields.end(),
                                   [](const IsoSubfield& s) { return !s.code.empty() && s.code[0] == '2'; });
        if (controls)
            checkControlCharacters(indicators);
        const rules::ByteSet& defined = m_index.definedSubfields(rule);
        const rules::ByteSet& repeatable = m_index.repeatableSubfields(rule);
        rules::ByteSet seen, repeated;
        const bool embedsFields = !isMarc21(m_set) && m_tag.size() == 3 && m_tag[0] == '4';
        bool embedded = false;
        for (const IsoSubfield& s : fieldSubfields) {
            if (controls)
                checkControlCharacters(s.value);
            if (s.code.empty())
                continue;  // a structural problem, told already
            const char code = static_cast<char>(s.code[0]);
            // In a UNIMARC 4XX, what follows $1 is an embedded field with rules of its own.
            if (embedsFields && code == '1')
                embedded = true;
            if (embedded)
                continue;
            if (!defined.contains(s.code[0])) {
                add("undefined-subfield",
                    [&] { return fieldName() + " has subfield $" + shown(code) + ", not defined there"; }, 0, code);
                continue;
            }
            // Told once, at the second of a subfield that may not repeat.
            if (!seen.contains(s.code[0])) {
                seen.insert(s.code[0]);
            } else if (!repeated.contains(s.code[0])) {
                repeated.insert(s.code[0]);
                if (!repeatable.contains(s.code[0]))
                    add("repeated-subfield",
                        [&] { return fieldName() + " repeats subfield $" + shown(code) + ", which is not repeatable"; },
                        0, code);
            }
            checkValue(code, s.value);
        }
        const bool titleField =
            (m_set == RuleSet::Marc21 && m_tagNumber == 245) || (!isMarc21(m_set) && m_tagNumber == 200);
        if (titleField && !seen.contains('a'))
            add("missing-subfield", [&] { return fieldName() + " has no subfield $a"; }, 0, 'a');
    }

    void checkIndicator(int which, unsigned char value, std::string_view allowed)
    {
        // A few values each: a plain loop, not a call.
        for (const char c : allowed)
            if (static_cast<unsigned char>(c) == value)
                return;
        add("bad-indicator", [&] { return fieldName() + " indicator " + std::to_string(which) + " is " +
                                 shown(static_cast<char>(value)) + ", not one of " + shownValues(allowed); },
            which);
    }

    /// The checks of one subfield's value that the tables cannot say.
    void checkValue(char code, std::span<const unsigned char> value)
    {
        const bool marc21 = isMarc21(m_set);
        if (code == 'a' && m_tagNumber == (marc21 ? 20 : 10)) {
            const auto fault = rules::CheckIsbn(text(value));
            if (fault != rules::NumberFault::None)
                add("bad-isbn", [&] { return fieldName() + " $a " + PrintableBytes(value) + " is not an ISBN (" +
                                    (fault == rules::NumberFault::Length ? "length" : "check digit") + ")"; },
                    0, code);
        } else if (code == 'a' && m_tagNumber == (marc21 ? 22 : 11)) {
            const auto fault = rules::CheckIssn(text(value));
            if (fault != rules::NumberFault::None)
                add("bad-issn", [&] { return fieldName() + " $a " + PrintableBytes(value) + " is not an ISSN (" +
                                    (fault == rules::NumberFault::Length ? "length" : "check digit") + ")"; },
                    0, code);
        } else if (marc21 && m_tagNumber == 41 && m_marcCodes &&
                   std::string_view("abdefghjkmn").find(code) != std::string_view::npos) {
            // Older records run several codes together ("engfre").
            const std::string_view codes = text(value);
            bool known = !codes.empty() && codes.size() % 3 == 0;
            for (std::size_t k = 0; known && k < codes.size(); k += 3)
                known = rules::IsMarcLanguage(codes.substr(k, 3));
            if (!known)
                add("unknown-code", [&] { return fieldName() + " $" + shown(code) + " " + PrintableBytes(value) +
                                        " is not a MARC language code"; },
                    0, code);
        } else if (marc21 && m_tagNumber == 44 && code == 'a' && m_marcCodes) {
            std::string country(text(value));
            if (country.size() == 2)
                country += ' ';
            if (!rules::IsMarcCountry(country))
                add("unknown-code", [&] { return fieldName() + " $a " + PrintableBytes(value) + " is not a MARC country code"; }, 0,
                    code);
        } else if (!marc21 && code == 'a' && isCodedSubfieldTag(m_tag)) {
            // 105 and 106 have no length of their own to tell: each position present is checked.
            checkCodedPositions(std::string(m_tag) + std::string(kSubfieldABlockEnd), {}, value);
        } else if (!marc21 && m_tagNumber == 100 && code == 'a') {
            // Of the wrong length, its codes stand where others are expected: only the length is told.
            if (value.size() == kUnimarcGeneralDataLength)
                checkCodedPositions(kGeneralDataBlock, {}, value);
            else
                add("bad-fixed-length", [&] {
                    return fieldName() + " $a is " + std::to_string(value.size()) + " bytes long, not " +
                           std::to_string(kUnimarcGeneralDataLength);
                }, 0, code);
        } else if (!marc21 && m_tagNumber == 101 && code >= 'a' && code <= 'j') {
            if (!rules::IsIso639_2(text(value)))
                add("unknown-code", [&] { return fieldName() + " $" + shown(code) + " " + PrintableBytes(value) +
                                        " is not an ISO 639-2 language code"; },
                    0, code);
        } else if (!marc21 && m_tagNumber == 102 && code == 'a') {
            if (!rules::IsIso3166Alpha2(text(value)))
                add("unknown-code", [&] { return fieldName() + " $a " + PrintableBytes(value) +
                                        " is not an ISO 3166-1 alpha-2 country code"; },
                    0, code);
        }
    }

    static bool isCodedSubfieldTag(std::string_view tag)
    {
        constexpr std::size_t kTagLength = 3;
        return tag.size() == kTagLength &&
               std::any_of(std::begin(kCodedSubfieldBlocks), std::end(kCodedSubfieldBlocks),
                           [&](std::string_view block) { return block.substr(0, kTagLength) == tag; });
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
            add("control-character", [&] { return fieldName() + " holds control character " + PrintableHex(b); });
            return;
        }
    }

    static std::string PrintableHex(unsigned char b)
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        return std::string("0x") + kHex[b >> 4] + kHex[b & 0xF];
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
        const auto linkage = firstSubfield('6');
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
            add("broken-link", [&] { return fieldName() + " $6 links to " + shownTag(link.target) + "-" +
                                   shownTag(link.number) + ", which does not link back"; },
                0, '6');
        }
    }

    Iso2709Reader& m_reader;
    RuleSet m_set;
    const RuleContext& m_context;
    std::vector<RuleFinding>& m_out;
    const rules::RuleIndex& m_index;
    const RuleSetTables& m_tables;
    // The thread's, so that checking a record allocates nothing.
    static thread_local RuleScratch m_scratch;
    unsigned char m_delimiter;
    unsigned char m_controlsBelow;
    std::size_t m_at = 0;
    std::string_view m_tag;
    int m_tagNumber = -1;  ///< TagNumber(m_tag) of the current field
    int m_occurrence = 0;
    std::span<const unsigned char> m_body;  ///< the current field's, up to its terminator
    bool m_split = false;                   ///< m_scratch.subfields hold the current field's
    std::span<const unsigned char> m_indicators;  ///< the current field's, once split
    bool m_marcCodes = true;  ///< the data field's codes are from the MARC lists
};

thread_local RuleScratch RuleChecker::m_scratch;

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
        RuleFinding f;
        f.code = "no-rules";
        if (context.messages)
            f.message = std::string(uncovered) + " (leader byte 6 is " + shown(type) + ")";
        f.position = static_cast<int>(kRecordTypeOffset);
        out.push_back(std::move(f));
        return set;
    }
    RuleChecker(reader, set, context, out).run();
    return set;
}

}  // namespace veltrane

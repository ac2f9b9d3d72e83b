// SPDX-License-Identifier: Apache-2.0
#include "check/RecordChecker.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "charset/ByteWords.h"
#include "charset/CharsetInternal.h"
#include "charset/Utf8.h"
#include "iso2709/MarcRecord.h"

namespace veltrane::check {

namespace {

class RecordChecker {
public:
    RecordChecker(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
                  std::vector<CheckProblem>& out, CheckScratch& scratch, ProblemTally* tally)
        : m_record(record), m_bytes(record.bytes), m_options(options), m_fields(fields), m_codec(codec), m_out(out),
          m_tally(tally),
          m_reader(scratch.reader), m_views(scratch.views), m_pieces(scratch.pieces), m_findings(scratch.findings),
          m_terminator(FieldTerminator(options.mode))
    {
    }

    void run(bool quickScan)
    {
        const std::size_t first = m_out.size();
        checkStructure(quickScan);
        if (m_options.rules == RuleSetting::None || !m_reader.leaderWhole())
            return;
        checkContent(first);
    }

    [[nodiscard]] ControlNumber takeControlNumber() { return std::move(m_controlNumber); }

private:
    void checkStructure(bool quickScan)
    {
        Iso2709Reader& reader = m_reader;
        reader.read(m_bytes, m_record.declaredLength, {m_options.mode, true, quickScan});
        m_views.clear();
        if (reader.readByQuickScan()) {
            m_inPlace = true;
            for (const IsoField& f : reader.fields())
                m_views.push_back({f.tag, f.data});
            JoinFieldBytes(m_views, m_pieces);
            findControlNumber();
            checkCharacters();
            return;
        }
        if (!reader.leaderWhole()) {
            addStructural();
            return;
        }
        m_fields.assemble(reader);
        for (std::size_t i = 0; i < m_fields.fields().size(); ++i)
            m_views.push_back({m_fields.tag(i), m_fields.data(i)});
        findControlNumber();
        addStructural();
        checkCharacters();
    }

    /// The content findings follow the record's structural ones; every
    /// finding of the record names the rules it was checked by.
    void checkContent(std::size_t first)
    {
        m_findings.clear();
        const RuleSet set = CheckRecordRules(m_reader, m_options.rules,
                                             {m_bytes, m_options.mode, charset(), m_options.messages}, m_findings);
        for (std::size_t i = first; i < m_out.size(); ++i)
            m_out[i].rules = set;
        if (m_tally != nullptr) {
            for (const RuleFinding& f : m_findings)
                m_tally->add(f.code, set, f.severity);
            return;
        }
        for (RuleFinding& f : m_findings) {
            add(f.at, f.code, [&] { return std::move(f.message); });
            CheckProblem& p = m_out.back();
            p.severity = f.severity;
            p.rules = set;
            p.tag = std::move(f.tag);
            p.occurrence = f.occurrence;
            p.indicator = f.indicator;
            p.subfield = f.subfield;
            p.position = f.position;
        }
    }

    /// Adds a problem of the record; `describe()` makes its text, and the 001
    /// value is copied, only when problems are told with them.
    template <typename Describe>
    void add(std::size_t at, std::string_view code, Describe&& describe)
    {
        CheckProblem& p = m_out.emplace_back();
        p.number = m_record.number;
        p.offset = m_record.offset + at;
        p.code = code;
        if (m_options.messages) {
            p.controlNumber = m_controlNumber.value();
            p.description = describe();
        }
    }

    void findControlNumber()
    {
        for (std::size_t i = 0; i < m_views.size(); ++i) {
            if (m_views[i].tag != "001")
                continue;
            std::span<const unsigned char> data = m_views[i].data;
            const auto end = std::find(data.begin(), data.end(), m_terminator);
            data = data.first(static_cast<std::size_t>(end - data.begin()));
            if (std::all_of(data.begin(), data.end(), [](unsigned char b) { return b >= 0x20 && b < 0x7F; })) {
                m_controlNumber.standing = {reinterpret_cast<const char*>(data.data()), data.size()};
                return;
            }
            std::string& text = m_controlNumber.made;
            if (std::all_of(data.begin(), data.end(), [](unsigned char b) { return b < 0x80; }))
                text.assign(reinterpret_cast<const char*>(data.data()), data.size());
            else
                (void)m_codec.decode(charset(), data, text);
            // The value stands in a tab-separated line.
            for (char& c : text)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = '?';
            return;
        }
    }

    void addStructural()
    {
        for (const RecordProblem& p : m_reader.problems())
            add(p.at, p.code, [&] { return p.description; });
    }

    void checkCharacters()
    {
        const bool flaggedUtf8 = m_bytes[kCharacterCodingOffset] == 'a';
        bool validUtf8 = flaggedUtf8;
        for (std::size_t i = 0; flaggedUtf8 && i < m_views.size(); ++i) {
            if (!IsValidUtf8(m_views[i].data)) {
                add(0, "bad-utf8", [&] {
                    return "leader byte 9 says UTF-8 but field " + tagText(i) + " (entry " + std::to_string(i + 1) +
                           ") is not valid UTF-8";
                });
                // The same bytes counted again as invalid would say the same.
                if (charset() == Charset::Utf8)
                    return;
                validUtf8 = false;
                break;
            }
        }
        if (!flaggedUtf8 && m_inPlace &&
            (m_options.charset == CharsetSetting::Auto || m_options.charset == CharsetSetting::Gbk)) {
            checkCharactersFromScan();
            return;
        }
        for (std::size_t i = 0; i < m_views.size(); ++i) {
            if (IsAsciiWithoutEscape(m_views[i].data))
                continue;
            // What is valid UTF-8 has nothing invalid in UTF-8.
            if (validUtf8 && charset() == Charset::Utf8)
                return;
            addInvalid(i);
        }
    }

    /// Scans the fields once as GBK, which also finds what the automatic rules
    /// look for: most records not flagged UTF-8 that have high bytes are GBK,
    /// and in most of those nothing is invalid. Fields are counted one by one
    /// only when something is.
    void checkCharactersFromScan()
    {
        TextScan record;
        for (const auto& piece : m_pieces) {
            const TextScan scan = m_codec.scanText(piece);
            record.invalidGbk += scan.invalidGbk;
            record.high |= scan.high;
            record.escape |= scan.escape;
            record.highBeforeDigit |= scan.highBeforeDigit;
        }
        if (!record.high && !record.escape)
            return;
        if (m_options.charset == CharsetSetting::Auto) {
            const CharsetDecision decision = DetectCharset(m_bytes.first<kLeaderLength>(), m_views, m_pieces,
                                                           {record.escape, record.highBeforeDigit});
            m_charset = decision.charset;
            // The bytes that decided UTF-8 by the third rule are valid UTF-8.
            if (decision.charset == Charset::Utf8 && decision.rule == CharsetRule::ValidUtf8)
                return;
        } else {
            m_charset = Charset::Gbk;
        }
        if (*m_charset == Charset::Gbk && record.invalidGbk == 0)
            return;
        for (std::size_t i = 0; i < m_views.size(); ++i)
            if (!IsAsciiWithoutEscape(m_views[i].data))
                addInvalid(i);
    }

    void addInvalid(std::size_t field)
    {
        const std::size_t invalid = m_codec.countInvalid(charset(), m_views[field].data);
        if (invalid > 0)
            add(0, "invalid-bytes", [&] {
                return "field " + tagText(field) + " (entry " + std::to_string(field + 1) + ") has " +
                       std::to_string(invalid) + " bytes invalid in " + std::string(CharsetName(charset()));
            });
    }

    /// The record's set, decided when first needed: most records are ASCII
    /// throughout and need none.
    Charset charset()
    {
        if (!m_charset)
            m_charset = !m_inPlace ? ChooseCharset(m_options.charset, m_fields).charset
                        : m_options.charset == CharsetSetting::Auto
                            ? DetectCharset(m_bytes.first<kLeaderLength>(), m_views, m_pieces).charset
                            : ChooseCharset(m_options.charset, m_fields).charset;
        return *m_charset;
    }

    std::string tagText(std::size_t i) const
    {
        return PrintableBytes({reinterpret_cast<const unsigned char*>(m_views[i].tag.data()), m_views[i].tag.size()});
    }

    const FramedRecord& m_record;
    std::span<const unsigned char> m_bytes;
    const CheckOptions& m_options;
    RecordFields& m_fields;
    TextCodec& m_codec;
    std::vector<CheckProblem>& m_out;
    ProblemTally* m_tally;  ///< counts the content findings instead of m_out, when given
    Iso2709Reader& m_reader;
    std::vector<FieldView>& m_views;  ///< the record's fields, in RecordFields or in place
    std::vector<std::span<const unsigned char>>& m_pieces;
    std::vector<RuleFinding>& m_findings;  ///< the content check's, before they become problems
    bool m_inPlace = false;
    unsigned char m_terminator;
    ControlNumber m_controlNumber;
    std::optional<Charset> m_charset;
};

}  // namespace

void CheckOne(const FramedRecord& record, const CheckOptions& options, RecordFields& fields, TextCodec& codec,
              std::vector<CheckProblem>& out, CheckScratch& scratch, ControlNumber& controlNumber, bool quickScan,
              ProblemTally* tally)
{
    RecordChecker checker(record, options, fields, codec, out, scratch, tally);
    checker.run(quickScan);
    controlNumber = checker.takeControlNumber();
}


}  // namespace veltrane::check

// SPDX-License-Identifier: Apache-2.0
#include "list/ListRows.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "charset/Utf8.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordFields.h"
#include "profile/FileProfile.h"

namespace veltrane {

namespace {

// Non-sorting spans: ISO 6630's NSB and NSE as C1 controls (UNIMARC in
// Unicode), MARC-8's 0x88 and 0x89 as libyaz decodes them, and the escape
// pairs ESC H / ESC I that 7-bit UNIMARC records carry.
constexpr char32_t kNsbIso = 0x88, kNseIso = 0x89;
constexpr char32_t kNsbMarc = 0x98, kNseMarc = 0x9C;
constexpr char32_t kEscape = 0x1B;

/// ISBD punctuation a MARC 21 subfield ends with before the next one.
bool isTrailingPunctuation(char c) { return c == ' ' || c == '/' || c == ':' || c == ';' || c == '=' || c == ',' || c == '.'; }

void trimEnd(std::string& text, bool punctuation)
{
    while (!text.empty() && (text.back() == ' ' || (punctuation && isTrailingPunctuation(text.back()))))
        text.pop_back();
}

void trimStart(std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    text.erase(0, i);
}

}  // namespace

struct ListRowMaker::Work {
    DelimiterMode mode;
    CharsetSetting setting;
    RuleSetting rules = RuleSetting::None;
    std::vector<RuleFinding> findings;
    std::vector<ColumnPath> ownColumns;
    std::string value;
    Iso2709Reader reader;
    RecordFields fields;
    TextCodec codec;
    std::string decoded;
    std::vector<IsoSubfield> subfields;
    Charset charset = Charset::Gbk;

    /// The first field of a tag, as the reader holds it.
    std::optional<std::size_t> firstField(std::string_view tag) const
    {
        for (std::size_t i = 0; i < reader.fields().size(); ++i)
            if (reader.fields()[i].tag == tag)
                return i;
        return std::nullopt;
    }

    /// The first subfield `code` of field i, and its indicators.
    std::optional<std::span<const unsigned char>> subfield(std::size_t i, unsigned char code,
                                                           std::span<const unsigned char>* indicators = nullptr)
    {
        const std::span<const unsigned char> found = SplitSubfields(reader.body(i), mode, subfields);
        if (indicators != nullptr)
            *indicators = found;
        for (const IsoSubfield& s : subfields)
            if (s.code.size() == 1 && s.code[0] == code)
                return s.value;
        return std::nullopt;
    }

    /// The first subfield `code` of the first field of a tag.
    std::optional<std::span<const unsigned char>> firstSubfield(std::string_view tag, unsigned char code)
    {
        const std::optional<std::size_t> field = firstField(tag);
        return field ? subfield(*field, code) : std::nullopt;
    }

    /// Decodes bytes into `text` as the list shows them (controls and the
    /// span marks left out) and, when asked, into `sortKey` without the
    /// non-sorting spans.
    void decode(std::span<const unsigned char> bytes, std::string& text, std::string* sortKey = nullptr)
    {
        decoded.clear();
        codec.decode(charset, bytes, decoded);
        bool inSpan = false;
        for (std::size_t i = 0; i < decoded.size();) {
            const std::size_t start = i;
            const char32_t cp = NextCodePoint(decoded, i);
            if (cp == kEscape && i < decoded.size() && (decoded[i] == 'H' || decoded[i] == 'I')) {
                inSpan = decoded[i++] == 'H';
                continue;
            }
            if (cp == kNsbIso || cp == kNsbMarc || cp == kNseIso || cp == kNseMarc) {
                inSpan = cp == kNsbIso || cp == kNsbMarc;
                continue;
            }
            if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
                continue;
            text.append(decoded, start, i - start);
            if (sortKey != nullptr && !inSpan)
                sortKey->append(decoded, start, i - start);
        }
    }

    void cell(ListRow& row, ListColumn column, std::optional<std::span<const unsigned char>> bytes, bool punctuation)
    {
        if (!bytes)
            return;
        std::string& text = row.cells[static_cast<std::size_t>(column)];
        decode(*bytes, text);
        trimStart(text);
        trimEnd(text, punctuation);
    }

    /// Appends the text of one occurrence to a cell of one's own.
    void ownValue(const ColumnPath& path, std::span<const unsigned char> bytes, std::string& cell)
    {
        value.clear();
        decode(bytes, value);
        if (path.last) {
            // Characters first..last of the decoded text, as many as it has.
            std::size_t at = 0, start = value.size(), end = value.size();
            for (std::size_t n = 0; at < value.size() && n <= *path.last; ++n) {
                if (n == path.first)
                    start = at;
                NextCodePoint(value, at);
                if (n == *path.last)
                    end = at;
            }
            value = start < end ? value.substr(start, end - start) : std::string();
        } else {
            trimStart(value);
            trimEnd(value, false);
        }
        if (!cell.empty())
            cell += " ; ";
        cell += value;
    }

    /// The cell of a column of one's own.
    void ownCell(const ColumnPath& path, std::string& cell)
    {
        cell.clear();
        if (path.leader()) {
            ownValue(path, reader.leader(), cell);
            return;
        }
        for (std::size_t i = 0; i < reader.fields().size(); ++i) {
            if (reader.fields()[i].tag != path.tag)
                continue;
            if (path.code == 0 && path.tag.compare(0, 2, "00") == 0) {
                ownValue(path, reader.body(i), cell);
            } else {
                const std::span<const unsigned char> before = SplitSubfields(reader.body(i), mode, subfields);
                if (path.code == 0) {
                    // A data field whole: its subfields' values joined with spaces.
                    std::string joined;
                    for (const IsoSubfield& s : subfields) {
                        if (!joined.empty())
                            joined += ' ';
                        joined.append(reinterpret_cast<const char*>(s.value.data()), s.value.size());
                    }
                    if (subfields.empty())
                        joined.assign(reinterpret_cast<const char*>(before.data()), before.size());
                    ownValue(path, {reinterpret_cast<const unsigned char*>(joined.data()), joined.size()}, cell);
                } else {
                    for (const IsoSubfield& s : subfields) {
                        if (s.code.size() != 1 || s.code[0] != static_cast<unsigned char>(path.code))
                            continue;
                        ownValue(path, s.value, cell);
                        if (!path.every)
                            return;
                    }
                    continue;
                }
            }
            if (!path.every)
                return;
        }
    }

    void title(ListRow& row, std::optional<std::size_t> field, std::size_t nonfiling, bool punctuation)
    {
        if (!field)
            return;
        const std::optional<std::span<const unsigned char>> a = subfield(*field, 'a');
        if (!a)
            return;
        std::string& text = row.cells[static_cast<std::size_t>(ListColumn::Title)];
        std::string key;
        decode(*a, text, &key);
        trimEnd(text, punctuation);
        trimEnd(key, punctuation);
        std::size_t skip = 0;
        for (std::size_t n = 0; n < nonfiling && skip < key.size(); ++n)
            NextCodePoint(key, skip);
        key.erase(0, skip);
        trimStart(key);
        trimStart(text);
        if (key != text)
            row.titleSortKey = std::move(key);
    }
};

ListRowMaker::ListRowMaker(DelimiterMode mode, CharsetSetting setting, std::vector<ColumnPath> ownColumns,
                           RuleSetting rules)
    : m_work(std::make_unique<Work>())
{
    m_work->mode = mode;
    m_work->setting = setting;
    m_work->rules = rules;
    m_work->ownColumns = std::move(ownColumns);
}

ListRowMaker::~ListRowMaker() = default;

void ListRowMaker::make(std::span<const unsigned char> bytes, std::uint32_t declaredLength, ListRow& row)
{
    Work& w = *m_work;
    for (std::string& cell : row.cells)
        cell.clear();
    row.titleSortKey.clear();
    w.reader.read(bytes, declaredLength, {w.mode, true, true});
    w.fields.assemble(w.reader);
    const CharsetDecision decision = ChooseCharset(w.setting, w.fields);
    w.charset = decision.charset;
    row.cells[static_cast<std::size_t>(ListColumn::Charset)] = TellCharset(w.setting, decision, w.fields).name;
    std::size_t problems = w.reader.problems().size();
    if (w.rules != RuleSetting::None && w.reader.leaderWhole()) {
        // Only counted: the findings come without their text.
        w.findings.clear();
        (void)CheckRecordRules(w.reader, w.rules, {bytes, w.mode, w.charset, false}, w.findings);
        // That a kind of record has no rules is no problem of the record.
        problems += static_cast<std::size_t>(std::count_if(w.findings.begin(), w.findings.end(),
                                                           [](const RuleFinding& f) { return f.code != "no-rules"; }));
    }
    row.cells[static_cast<std::size_t>(ListColumn::Problems)] = std::to_string(problems);
    if (const std::optional<int> year = PublicationYear(w.fields, SubfieldDelimiter(w.mode)))
        row.cells[static_cast<std::size_t>(ListColumn::Year)] = std::to_string(*year);
    if (const std::optional<std::size_t> f = w.firstField("001"))
        w.cell(row, ListColumn::ControlNumber, w.reader.body(*f), false);
    row.own.resize(w.ownColumns.size());
    for (std::size_t k = 0; k < w.ownColumns.size(); ++k)
        w.ownCell(w.ownColumns[k], row.own[k]);

    if (IsUnimarcShaped(w.fields)) {
        const std::optional<std::size_t> f200 = w.firstField("200");
        w.title(row, f200, 0, false);
        if (f200)
            w.cell(row, ListColumn::Author, w.subfield(*f200, 'f'), false);
        w.cell(row, ListColumn::Publisher, w.firstSubfield("210", 'c'), false);
        w.cell(row, ListColumn::Isbn, w.firstSubfield("010", 'a'), false);
        return;
    }
    const std::optional<std::size_t> f245 = w.firstField("245");
    std::size_t nonfiling = 0;
    if (f245) {
        std::span<const unsigned char> indicators;
        (void)w.subfield(*f245, 'a', &indicators);
        if (indicators.size() >= 2 && indicators[1] >= '0' && indicators[1] <= '9')
            nonfiling = static_cast<std::size_t>(indicators[1] - '0');
    }
    w.title(row, f245, nonfiling, true);
    std::optional<std::span<const unsigned char>> author;
    for (std::string_view tag : {"100", "110", "111"})
        if (!author)
            author = w.firstSubfield(tag, 'a');
    if (!author && f245)
        author = w.subfield(*f245, 'c');
    w.cell(row, ListColumn::Author, author, true);
    std::optional<std::span<const unsigned char>> publisher;
    for (std::size_t i = 0; i < w.reader.fields().size() && !publisher; ++i) {
        if (w.reader.fields()[i].tag != "264")
            continue;
        std::span<const unsigned char> indicators;
        const auto b = w.subfield(i, 'b', &indicators);
        if (indicators.size() >= 2 && indicators[1] == '1')
            publisher = b;
    }
    if (!publisher)
        publisher = w.firstSubfield("260", 'b');
    w.cell(row, ListColumn::Publisher, publisher, true);
    w.cell(row, ListColumn::Isbn, w.firstSubfield("020", 'a'), true);
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstdio>

#include "charset/Utf8.h"
#include "formats/RecordFormats.h"

namespace veltrane {

namespace {

constexpr char kFieldTerminator = '\x1e';     // 0x1E
constexpr char kSubfieldDelimiter = '\x1f';   // 0x1F
constexpr std::size_t kMaxFieldLength = 9'999;
// The record terminator, field terminator and subfield delimiter.
constexpr std::string_view kDelimiterBytes = "\x1d\x1e\x1f";
constexpr std::size_t kMaxRecordLength = 99'999;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kSlimNamespace = "http://www.loc.gov/MARC21/slim";

constexpr std::array<std::pair<RecordFormat, std::string_view>, 7> kFormatNames{{
    {RecordFormat::Iso2709, "iso2709"},
    {RecordFormat::MarcXml, "marcxml"},
    {RecordFormat::Json, "json"},
    {RecordFormat::JsonLines, "jsonl"},
    {RecordFormat::Mrk, "mrk"},
    {RecordFormat::Text, "text"},
    {RecordFormat::Tsv, "tsv"},
}};

/// Length of the well-formed UTF-8 sequence at text[i] (1-4) and its code
/// point; 0 when there is none there.
std::size_t utf8Sequence(std::string_view text, std::size_t i, char32_t& codePoint)
{
    const Utf8Sequence s = Utf8SequenceAt({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, i);
    codePoint = s.codePoint;
    return s.length;
}

void appendDigits(std::string& out, std::size_t value, int width)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*zu", width, value);
    out.append(digits, static_cast<std::size_t>(width));
}

std::string shownTag(std::string_view tag)
{
    std::string text;
    for (char c : tag)
        text += (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F) ? c : '?';
    return text;
}

/// Counts replacements made while writing one record, told once per record.
struct Replacements {
    std::size_t invalidUtf8 = 0;
    std::size_t xmlForbidden = 0;

    void tell(std::vector<std::string>& problems) const
    {
        if (invalidUtf8 > 0)
            problems.push_back(std::to_string(invalidUtf8) + " bytes of invalid UTF-8" + std::string(kReplacementNoteEnd));
        if (xmlForbidden > 0)
            problems.push_back(std::to_string(xmlForbidden) + " characters XML 1.0 cannot hold" +
                               std::string(kReplacementNoteEnd));
    }
};

class Iso2709Writer final : public RecordWriter {
public:
    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        return WriteIso2709(record, out, problems);
    }
};

class MarcXmlWriter final : public RecordWriter {
public:
    void begin(std::string& out) override
    {
        out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection xmlns=\"";
        out += kSlimNamespace;
        out += "\">\n";
    }

    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        Replacements replaced;
        out += "<record>\n  <leader>";
        escape(record.leader(), out, false, replaced);
        out += "</leader>\n";
        for (const MarcRecord::Field& f : record.fields()) {
            if (f.control) {
                out += "  <controlfield tag=\"";
                escape(record.tag(f), out, true, replaced);
                out += "\">";
                escape(record.value(f), out, false, replaced);
                out += "</controlfield>\n";
                continue;
            }
            out += "  <datafield tag=\"";
            escape(record.tag(f), out, true, replaced);
            out += "\" ind1=\"";
            escape(record.indicator1(f), out, true, replaced);
            out += "\" ind2=\"";
            escape(record.indicator2(f), out, true, replaced);
            out += "\">\n";
            for (const MarcRecord::Subfield& s : record.subfields(f)) {
                out += "    <subfield code=\"";
                escape(record.code(s), out, true, replaced);
                out += "\">";
                escape(record.value(s), out, false, replaced);
                out += "</subfield>\n";
            }
            out += "  </datafield>\n";
        }
        out += "</record>\n";
        replaced.tell(problems);
        return true;
    }

    void end(std::string& out) override { out += "</collection>\n"; }

private:
    /// Character data and attribute values. A parser turns a raw CR into LF and,
    /// in attributes, tabs and line ends into spaces: those go as references so
    /// that they read back as they were.
    /// Where the first byte from i on that escape() must look at stands:
    /// ASCII text without markup goes sixteen bytes at a time.
    static std::size_t skipPlain(std::string_view text, std::size_t i)
    {
#if defined(__SSE2__)
        const char* const data = text.data();
        while (i + 16 <= text.size()) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            // Controls and bytes from 0x80 on are both below 0x20 as signed bytes.
            __m128i stop = _mm_cmplt_epi8(block, _mm_set1_epi8(0x20));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi8(block, _mm_set1_epi8('&')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi8(block, _mm_set1_epi8('<')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi8(block, _mm_set1_epi8('>')));
            stop = _mm_or_si128(stop, _mm_cmpeq_epi8(block, _mm_set1_epi8('"')));
            const int mask = _mm_movemask_epi8(stop);
            if (mask != 0)
                return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            i += 16;
        }
#endif
        return i;
    }

    static void escape(std::string_view text, std::string& out, bool attribute, Replacements& replaced)
    {
        std::size_t run = 0;  // start of bytes copied as they are
        std::size_t i = 0;
        auto flush = [&] { out.append(text.data() + run, i - run); };
        while (i < text.size()) {
            i = skipPlain(text, i);
            if (i >= text.size())
                break;
            const unsigned char b = static_cast<unsigned char>(text[i]);
            if (b >= 0x20 && b < 0x80 && b != '&' && b != '<' && b != '>' && b != '"') {
                ++i;
                continue;
            }
            std::string_view replacement;
            std::size_t n = 1;
            if (b >= 0x80) {
                char32_t cp = 0;
                n = utf8Sequence(text, i, cp);
                if (n == 0) {
                    replacement = kReplacement;
                    n = 1;
                    ++replaced.invalidUtf8;
                } else if (cp == 0xFFFE || cp == 0xFFFF) {
                    replacement = kReplacement;
                    ++replaced.xmlForbidden;
                } else {
                    i += n;
                    continue;
                }
            } else if (b == '&') {
                replacement = "&amp;";
            } else if (b == '<') {
                replacement = "&lt;";
            } else if (b == '>') {
                replacement = "&gt;";
            } else if (b == '"') {
                if (!attribute) {
                    ++i;
                    continue;
                }
                replacement = "&quot;";
            } else if (b == '\r') {
                replacement = "&#13;";
            } else if (b == '\n' || b == '\t') {
                if (!attribute) {
                    ++i;
                    continue;
                }
                replacement = b == '\n' ? "&#10;" : "&#9;";
            } else {
                // Other C0 controls have no place in XML 1.0, not even as references.
                replacement = kReplacement;
                ++replaced.xmlForbidden;
            }
            flush();
            out += replacement;
            i += n;
            run = i;
        }
        flush();
    }
};

/// JSON string body: quotes, backslashes and controls escaped; invalid UTF-8
/// becomes U+FFFD.
void appendJsonString(std::string_view text, std::string& out, Replacements& replaced)
{
    out += '"';
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
            ++i;
            continue;
        }
        if (b >= 0x80) {
            char32_t cp = 0;
            if (const std::size_t n = utf8Sequence(text, i, cp); n > 0) {
                i += n;
                continue;
            }
        }
        out.append(text.data() + run, i - run);
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (b >= 0x80) {
                out += kReplacement;
                ++replaced.invalidUtf8;
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
                out += escaped;
            }
        }
        ++i;
        run = i;
    }
    out.append(text.data() + run, i - run);
    out += '"';
}

class JsonWriter final : public RecordWriter {
public:
    explicit JsonWriter(bool lines) : m_lines(lines) {}

    void begin(std::string& out) override
    {
        if (!m_lines)
            out += '[';
    }

    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        Replacements replaced;
        if (!m_lines)
            out += m_first ? "\n" : ",\n";
        m_first = false;
        out += "{\"leader\":";
        appendJsonString(record.leader(), out, replaced);
        out += ",\"fields\":[";
        bool firstField = true;
        for (const MarcRecord::Field& f : record.fields()) {
            out += firstField ? "{" : ",{";
            firstField = false;
            appendJsonString(record.tag(f), out, replaced);
            out += ':';
            if (f.control) {
                appendJsonString(record.value(f), out, replaced);
                out += '}';
                continue;
            }
            out += "{\"ind1\":";
            appendJsonString(record.indicator1(f), out, replaced);
            out += ",\"ind2\":";
            appendJsonString(record.indicator2(f), out, replaced);
            out += ",\"subfields\":[";
            bool firstSubfield = true;
            for (const MarcRecord::Subfield& s : record.subfields(f)) {
                out += firstSubfield ? "{" : ",{";
                firstSubfield = false;
                appendJsonString(record.code(s), out, replaced);
                out += ':';
                appendJsonString(record.value(s), out, replaced);
                out += '}';
            }
            out += "]}}";
        }
        out += "]}";
        if (m_lines)
            out += '\n';
        replaced.tell(problems);
        return true;
    }

    void end(std::string& out) override
    {
        if (!m_lines)
            out += m_first ? "]\n" : "\n]\n";
    }

private:
    bool m_lines;
    bool m_first = true;
};

/// The long table: a header line, then one row for the leader, one per
/// control field and one per subfield, values decoded; tab, CR, LF and
/// backslash escaped as \t, \r, \n and \\, so that data engines read it
/// with no quoting at all.
class TsvWriter final : public RecordWriter {
public:
    void begin(std::string& out) override { out += "record\tid\tfield\ttag\tind1\tind2\tsubfield\tcode\tvalue\n"; }

    void recordNumber(std::int64_t number) override { m_number = number; }

    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        Replacements replaced;
        m_start.clear();
        m_start += std::to_string(m_number);
        m_start += '\t';
        for (const MarcRecord::Field& f : record.fields()) {
            if (f.control && record.tag(f) == "001") {
                appendValue(record.value(f), m_start, replaced);
                break;
            }
        }
        m_start += '\t';
        out += m_start;
        out += "0\tLDR\t\t\t0\t\t";
        appendValue(record.leader(), out, replaced);
        out += '\n';
        std::size_t field = 0;
        for (const MarcRecord::Field& f : record.fields()) {
            ++field;
            if (f.control) {
                out += m_start;
                out += std::to_string(field);
                out += '\t';
                appendValue(record.tag(f), out, replaced);
                out += "\t\t\t0\t\t";
                appendValue(record.value(f), out, replaced);
                out += '\n';
                continue;
            }
            std::size_t subfield = 0;
            for (const MarcRecord::Subfield& s : record.subfields(f)) {
                out += m_start;
                out += std::to_string(field);
                out += '\t';
                appendValue(record.tag(f), out, replaced);
                out += '\t';
                appendValue(record.indicator1(f), out, replaced);
                out += '\t';
                appendValue(record.indicator2(f), out, replaced);
                out += '\t';
                out += std::to_string(++subfield);
                out += '\t';
                appendValue(record.code(s), out, replaced);
                out += '\t';
                appendValue(record.value(s), out, replaced);
                out += '\n';
            }
        }
        replaced.tell(problems);
        return true;
    }

private:
    static void appendValue(std::string_view text, std::string& out, Replacements& replaced)
    {
        std::size_t run = 0, i = 0;
        while (i < text.size()) {
            const unsigned char b = static_cast<unsigned char>(text[i]);
            if (b >= 0x80) {
                char32_t cp = 0;
                if (const std::size_t n = utf8Sequence(text, i, cp); n > 0) {
                    i += n;
                    continue;
                }
            } else if (b != '\t' && b != '\r' && b != '\n' && b != '\\') {
                ++i;
                continue;
            }
            out.append(text.data() + run, i - run);
            switch (b) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            default:
                out += kReplacement;
                ++replaced.invalidUtf8;
            }
            run = ++i;
        }
        out.append(text.data() + run, i - run);
    }

    std::int64_t m_number = 0;
    std::string m_start;  ///< the record's number and 001, tab after each
};

class MrkWriter final : public RecordWriter {
public:
    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        Replacements replaced;
        out += "=LDR  ";
        escape(record.leader(), out, true, replaced);
        out += '\n';
        for (const MarcRecord::Field& f : record.fields()) {
            out += '=';
            escape(record.tag(f), out, false, replaced);
            out += "  ";
            if (f.control) {
                escape(record.value(f), out, true, replaced);
                out += '\n';
                continue;
            }
            escape(record.indicator1(f), out, true, replaced);
            escape(record.indicator2(f), out, true, replaced);
            for (const MarcRecord::Subfield& s : record.subfields(f)) {
                out += '$';
                escape(record.code(s), out, false, replaced);
                escape(record.value(s), out, false, replaced);
            }
            out += '\n';
        }
        out += '\n';
        replaced.tell(problems);
        return true;
    }

private:
    /// A literal '$', '\', '{' and '}' have mnemonics; control bytes (a line
    /// end would split the field) go as two hexadecimal digits in braces. In
    /// the leader, control fields and indicators '\' stands for a blank.
    static void escape(std::string_view text, std::string& out, bool blankAsBackslash, Replacements& replaced)
    {
        std::size_t run = 0;
        std::size_t i = 0;
        while (i < text.size()) {
            const unsigned char b = static_cast<unsigned char>(text[i]);
            const bool plain = b >= 0x20 && b < 0x7F && b != '$' && b != '\\' && b != '{' && b != '}' &&
                               !(b == ' ' && blankAsBackslash);
            if (plain) {
                ++i;
                continue;
            }
            std::size_t n = 1;
            if (b >= 0x80) {
                char32_t cp = 0;
                n = utf8Sequence(text, i, cp);
                if (n > 0) {
                    i += n;
                    continue;
                }
                n = 1;
            }
            out.append(text.data() + run, i - run);
            switch (b) {
            case '$': out += "{dollar}"; break;
            case '\\': out += "{bsol}"; break;
            case '{': out += "{lcub}"; break;
            case '}': out += "{rcub}"; break;
            case ' ': out += '\\'; break;
            default:
                if (b >= 0x80) {
                    out += kReplacement;
                    ++replaced.invalidUtf8;
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "{%02X}", b);
                    out += hex;
                }
            }
            i += n;
            run = i;
        }
        out.append(text.data() + run, i - run);
    }
};

}  // namespace

std::string_view RecordFormatName(RecordFormat format)
{
    for (const auto& [f, name] : kFormatNames)
        if (f == format)
            return name;
    return "iso2709";
}

std::optional<RecordFormat> ParseRecordFormat(std::string_view name)
{
    for (const auto& [f, known] : kFormatNames)
        if (known == name)
            return f;
    return std::nullopt;
}

bool WriteIso2709(const MarcRecord& record, std::string& out, std::vector<std::string>& problems)
{
    const std::size_t start = out.size();
    std::string_view leader = record.leader();
    if (leader.size() != kLeaderLength) {
        problems.push_back("the leader has " + std::to_string(leader.size()) + " bytes, not 24: cut or padded with blanks");
        leader = leader.substr(0, kLeaderLength);
    }
    for (const MarcRecord::Field& f : record.fields())
        if (f.tagLength != kTagLength)
            problems.push_back("tag '" + shownTag(record.tag(f)) + "' is not three bytes: cut or padded with blanks");
    // Leader, directory and data go out in one pass: field lengths are
    // measured first so the directory can precede the data.
    auto fieldLength = [&](const MarcRecord::Field& f) {
        if (f.control)
            return f.valueLength + 1;
        std::size_t n = 1 + std::max<std::size_t>(f.indicator1Length, 1) + std::max<std::size_t>(f.indicator2Length, 1);
        for (const MarcRecord::Subfield& s : record.subfields(f))
            n += 1 + s.codeLength + s.valueLength;
        return n;
    };
    // A tag holding a delimiter would end the directory or the record
    // where it stands.
    auto tagHoldsDelimiter = [&](const MarcRecord::Field& f) {
        return record.tag(f).find_first_of(kDelimiterBytes) != std::string_view::npos;
    };
    auto writable = [&](const MarcRecord::Field& f) { return fieldLength(f) <= kMaxFieldLength && !tagHoldsDelimiter(f); };
    std::size_t dataLength = 0;
    std::size_t entries = 0;
    for (const MarcRecord::Field& f : record.fields()) {
        const std::size_t n = fieldLength(f);
        if (n > kMaxFieldLength) {
            problems.push_back("field " + shownTag(record.tag(f)) + " is " + std::to_string(n) +
                               " bytes, more than 9,999: left out");
            continue;
        }
        if (tagHoldsDelimiter(f)) {
            problems.push_back("field " + shownTag(record.tag(f)) + " has a delimiter in its tag: left out");
            continue;
        }
        dataLength += n;
        ++entries;
    }
    const std::size_t base = kLeaderLength + entries * kDirectoryEntryLength + 1;
    const std::size_t total = base + dataLength + 1;
    if (total > kMaxRecordLength) {
        problems.push_back("the record would be " + std::to_string(total) + " bytes, more than 99,999: not written");
        return false;
    }
    out.reserve(start + total);
    appendDigits(out, total, 5);
    auto leaderPart = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            out += i < leader.size() ? leader[i] : ' ';
    };
    leaderPart(5, kBaseAddressOffset);
    appendDigits(out, base, 5);
    leaderPart(kBaseAddressOffset + 5, kLeaderLength);
    std::size_t position = 0;
    for (const MarcRecord::Field& f : record.fields()) {
        if (!writable(f))
            continue;
        const std::size_t n = fieldLength(f);
        std::string_view tag = record.tag(f);
        for (std::size_t i = 0; i < kTagLength; ++i)
            out += i < tag.size() ? tag[i] : ' ';
        appendDigits(out, n, 4);
        appendDigits(out, position, 5);
        position += n;
    }
    out += kFieldTerminator;
    // A delimiter byte in a field's data would end the field, a subfield or
    // the record where it stands (a record read under a printable delimiter
    // may hold one as data): it goes out as a blank, and is told.
    std::size_t blanked = 0;
    auto data = [&](std::string_view bytes) {
        for (const char c : bytes) {
            const bool delimiter = kDelimiterBytes.find(c) != std::string_view::npos;
            blanked += delimiter ? 1 : 0;
            out += delimiter ? ' ' : c;
        }
    };
    for (const MarcRecord::Field& f : record.fields()) {
        if (!writable(f))
            continue;
        blanked = 0;
        if (f.control) {
            data(record.value(f));
        } else {
            std::string_view i1 = record.indicator1(f), i2 = record.indicator2(f);
            data(i1.empty() ? std::string_view(" ") : i1);
            data(i2.empty() ? std::string_view(" ") : i2);
            for (const MarcRecord::Subfield& s : record.subfields(f)) {
                out += kSubfieldDelimiter;
                data(record.code(s));
                data(record.value(s));
            }
        }
        out += kFieldTerminator;
        if (blanked > 0)
            problems.push_back("field " + shownTag(record.tag(f)) + " holds " + std::to_string(blanked) +
                               (blanked == 1 ? " delimiter byte" : " delimiter bytes") + " in its data: written as blanks");
    }
    out += static_cast<char>(kRecordTerminator);
    return true;
}

/// The record text: display text in UTF-8, one line per field.
class TextWriter final : public RecordWriter {
public:
    explicit TextWriter(const RecordTextOptions& options) : m_writer(m_codec, options) {}

    bool write(const MarcRecord& record, std::string& out, std::vector<std::string>& problems) override
    {
        // The text is laid out from ISO 2709 bytes: the record is put back
        // into them first, in UTF-8.
        m_iso.clear();
        if (!WriteIso2709(record, m_iso, problems))
            return false;
        m_fields.assemble(reinterpret_cast<const unsigned char*>(m_iso.data()), m_iso.size());
        RecordTextWriter utf8(m_codec, {CharsetSetting::Utf8, dmNormal, GbkTextLayout::Columns});
        (void)utf8.writeText(m_fields, out);
        return true;
    }

    bool writeFields(const RecordFields& fields, std::string& out) override
    {
        (void)m_writer.writeText(fields, out);
        return true;
    }

private:
    TextCodec m_codec;  // before m_writer, which uses it
    RecordTextWriter m_writer;
    RecordFields m_fields;
    std::string m_iso;
};

std::unique_ptr<RecordWriter> MakeRecordWriter(RecordFormat format, const RecordTextOptions& text)
{
    switch (format) {
    case RecordFormat::Iso2709:
        return std::make_unique<Iso2709Writer>();
    case RecordFormat::MarcXml:
        return std::make_unique<MarcXmlWriter>();
    case RecordFormat::Json:
        return std::make_unique<JsonWriter>(false);
    case RecordFormat::JsonLines:
        return std::make_unique<JsonWriter>(true);
    case RecordFormat::Mrk:
        return std::make_unique<MrkWriter>();
    case RecordFormat::Text:
        return std::make_unique<TextWriter>(text);
    case RecordFormat::Tsv:
        return std::make_unique<TsvWriter>();
    }
    return nullptr;
}

}  // namespace veltrane

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/RecordFormats.h"
#include "charset/Utf8.h"

namespace veltrane {

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;
// No element, line or string of a record comes near these; past them the text
// is not a record file and reading stops instead of growing without bound.
constexpr std::size_t kMaxTokenLength = 4 * 1024 * 1024;
constexpr int kMaxJsonDepth = 32;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kBlankLeader = "                        ";  // 24 blanks

int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// The file a block at a time, read one byte at a time.
class ByteSource {
public:
    static constexpr int kEnd = -1;
    static constexpr int kError = -2;

    explicit ByteSource(int fd) : m_fd(fd), m_block(new unsigned char[kBlockSize]) {}

    int peek()
    {
        if (m_at == m_length && !fill())
            return m_failed ? kError : kEnd;
        return m_block[m_at];
    }
    int get()
    {
        const int c = peek();
        if (c >= 0) {
            ++m_at;
            ++m_position;
        }
        return c;
    }
    [[nodiscard]] bool failed() const { return m_failed; }
    [[nodiscard]] std::uint64_t position() const { return m_position; }

private:
    bool fill()
    {
        if (m_failed)
            return false;
        for (;;) {
            const ssize_t n = ::read(m_fd, m_block.get(), kBlockSize);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_failed = true;
            if (n <= 0)
                return false;
            m_at = 0;
            m_length = static_cast<std::size_t>(n);
            return true;
        }
    }

    int m_fd;
    std::unique_ptr<unsigned char[]> m_block;
    std::size_t m_at = 0, m_length = 0;
    std::uint64_t m_position = 0;
    bool m_failed = false;
};

// ---------------------------------------------------------------- mnemonic

class MrkReader final : public RecordReader {
public:
    explicit MrkReader(int fd) : m_source(fd) {}

    Step next(MarcRecord& record) override
    {
        record.clear();
        bool started = false;
        bool leader = false;
        for (;;) {
            const int got = readLine();
            if (got == ByteSource::kError)
                return Step::ReadError;
            if (got == kTooLong)
                return formatError("line " + std::to_string(m_lineNumber) + " is longer than any record");
            if (got == ByteSource::kEnd && m_line.empty())
                break;
            if (m_line.empty()) {
                if (started)
                    break;
                continue;
            }
            started = true;
            takeLine(record, leader);
            if (got == ByteSource::kEnd)
                break;
        }
        if (!started)
            return Step::End;
        if (!leader) {
            record.addProblem("the record has no leader line; a blank leader is written");
            record.setLeader(kBlankLeader);
        }
        return Step::Record;
    }

    std::uint64_t position() const override { return m_source.position(); }

private:
    static constexpr int kTooLong = -3;

    Step formatError(std::string message)
    {
        m_message = std::move(message);
        return Step::FormatError;
    }

    /// The next line without its end into m_line; kEnd when the file ended
    /// (the line may still hold text), 0 after a line end.
    int readLine()
    {
        m_line.clear();
        ++m_lineNumber;
        for (;;) {
            const int c = m_source.get();
            if (c < 0)
                return c;
            if (c == '\n') {
                if (!m_line.empty() && m_line.back() == '\r')
                    m_line.pop_back();
                return 0;
            }
            if (m_line.size() >= kMaxTokenLength)
                return kTooLong;
            m_line += static_cast<char>(c);
        }
    }

    void takeLine(MarcRecord& record, bool& leader)
    {
        const std::string_view line = m_line;
        // The tag is three bytes, as in the record, each perhaps written as a
        // mnemonic ({dollar}); a multibyte character counts by its bytes.
        std::size_t tagEnd = 1;
        for (int i = 0; i < 3 && tagEnd < line.size(); ++i)
            tagEnd += line[tagEnd] == '{' ? unitLength(line.substr(tagEnd)) : 1;
        if (line.size() < 6 || line[0] != '=' || line.substr(tagEnd, 2) != "  ") {
            record.addProblem("line " + std::to_string(m_lineNumber) + " is not a field line and is left out");
            return;
        }
        std::string tag;
        unescape(line.substr(1, tagEnd - 1), false, tag);
        std::string_view rest = line.substr(tagEnd + 2);
        // The writer puts the leader first: a later "=LDR" line is a field
        // that happens to have that tag.
        if (tag == "LDR" && !leader) {
            m_value.clear();
            unescape(rest, true, m_value);
            record.setLeader(m_value);
            leader = true;
            return;
        }
        if (IsControlTag(tag)) {
            m_value.clear();
            unescape(rest, true, m_value);
            record.addControlField(tag, m_value);
            return;
        }
        std::string indicators[2];
        for (std::string& indicator : indicators) {
            if (rest.empty() || rest[0] == '$') {
                record.addProblem("field " + tag + " lacks an indicator; a blank is written");
                indicator = " ";
                continue;
            }
            const std::size_t n = unitLength(rest);
            unescape(rest.substr(0, n), true, indicator);
            rest.remove_prefix(n);
        }
        record.addDataField(tag, indicators[0], indicators[1]);
        if (!rest.empty() && rest[0] != '$') {
            const std::size_t cut = std::min(rest.find('$'), rest.size());
            record.addProblem("field " + tag + ": text before the first subfield is left out");
            rest.remove_prefix(cut);
        }
        // Every raw '$' starts a subfield: a literal one is written {dollar}.
        while (!rest.empty()) {
            rest.remove_prefix(1);
            const std::size_t end = std::min(rest.find('$'), rest.size());
            std::string_view piece = rest.substr(0, end);
            rest.remove_prefix(end);
            const std::size_t codeLength = piece.empty() ? 0 : unitLength(piece);
            m_code.clear();
            m_value.clear();
            unescape(piece.substr(0, codeLength), false, m_code);
            unescape(piece.substr(codeLength), false, m_value);
            record.addSubfield(m_code, m_value);
        }
    }

    /// Bytes of the first character of text: a mnemonic in braces or one
    /// UTF-8 sequence.
    static std::size_t unitLength(std::string_view text)
    {
        if (text[0] == '{') {
            const std::size_t close = text.find('}');
            if (close != std::string_view::npos && mnemonic(text.substr(1, close - 1)) >= 0)
                return close + 1;
            return 1;
        }
        const unsigned char lead = static_cast<unsigned char>(text[0]);
        std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        return std::min(n, text.size());
    }

    /// The byte a mnemonic stands for, or -1.
    static int mnemonic(std::string_view name)
    {
        if (name == "dollar")
            return '$';
        if (name == "bsol")
            return '\\';
        if (name == "lcub")
            return '{';
        if (name == "rcub")
            return '}';
        if (name.size() == 2 && hexValue(name[0]) >= 0 && hexValue(name[1]) >= 0)
            return hexValue(name[0]) * 16 + hexValue(name[1]);
        return -1;
    }

    static void unescape(std::string_view text, bool blankAsBackslash, std::string& out)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\\' && blankAsBackslash) {
                out += ' ';
            } else if (c == '{') {
                const std::size_t close = text.find('}', i);
                const int byte = close == std::string_view::npos ? -1 : mnemonic(text.substr(i + 1, close - i - 1));
                if (byte < 0) {
                    out += c;
                } else {
                    out += static_cast<char>(byte);
                    i = close;
                }
            } else {
                out += c;
            }
        }
    }

    ByteSource m_source;
    std::string m_line, m_value, m_code;
    std::uint64_t m_lineNumber = 0;
};

// ---------------------------------------------------------------- MARCXML

/// A reader of one text file's bytes: where it stands, and failures told with
/// the byte offset where they were met.
class SourceReader : public RecordReader {
public:
    explicit SourceReader(int fd) : m_source(fd) {}

    std::uint64_t position() const override { return m_source.position(); }

protected:
    bool fail(std::string message)
    {
        m_message = "byte " + std::to_string(m_source.position()) + ": " + std::move(message);
        return false;
    }
    Step formatError(std::string message)
    {
        fail(std::move(message));
        return Step::FormatError;
    }

    ByteSource m_source;
};

class XmlReader final : public SourceReader {
public:
    explicit XmlReader(int fd) : SourceReader(fd) {}

    Step next(MarcRecord& record) override
    {
        record.clear();
        m_inRecord = false;
        m_leaf = Leaf::None;
        m_hasLeader = false;
        for (;;) {
            const int c = m_source.peek();
            if (c == ByteSource::kError)
                return Step::ReadError;
            if (c == ByteSource::kEnd) {
                if (m_inRecord)
                    return formatError("the file ends inside a record");
                return Step::End;
            }
            if (c != '<') {
                if (!readText())
                    return m_source.failed() ? Step::ReadError : Step::FormatError;
                continue;
            }
            m_source.get();
            Tag tag;
            if (!readMarkup(tag))
                return m_source.failed() ? Step::ReadError : Step::FormatError;
            if (tag.kind == Tag::Kind::Skipped)
                continue;
            if (tag.kind == Tag::Kind::Start) {
                start(record, tag);
                if (!tag.selfClosing)
                    continue;
            }
            if (finish(record, tag.name))
                return Step::Record;
        }
    }

private:
    enum class Leaf { None, Leader, Control, Subfield, Other };
    struct Tag {
        enum class Kind { Start, End, Skipped };
        Kind kind = Kind::Skipped;
        std::string name;
        std::vector<std::pair<std::string, std::string>> attributes;
        bool selfClosing = false;
        [[nodiscard]] const std::string* attribute(std::string_view wanted) const
        {
            for (const auto& [n, v] : attributes)
                if (localName(n) == wanted)
                    return &v;
            return nullptr;
        }
    };

    static std::string_view localName(std::string_view name)
    {
        const std::size_t colon = name.rfind(':');
        return colon == std::string_view::npos ? name : name.substr(colon + 1);
    }

    void start(MarcRecord& record, const Tag& tag)
    {
        const std::string_view name = localName(tag.name);
        m_text.clear();
        if (name == "record") {
            if (m_inRecord)
                record.addProblem("a record inside a record is taken as part of it");
            m_inRecord = true;
            return;
        }
        if (!m_inRecord)
            return;
        auto attribute = [&](std::string_view wanted, std::string_view fallback) -> std::string {
            if (const std::string* v = tag.attribute(wanted))
                return *v;
            record.addProblem("<" + std::string(name) + "> has no " + std::string(wanted) + " attribute");
            return std::string(fallback);
        };
        if (name == "leader") {
            m_leaf = Leaf::Leader;
        } else if (name == "controlfield") {
            m_leaf = Leaf::Control;
            m_tag = attribute("tag", "   ");
        } else if (name == "datafield") {
            m_leaf = Leaf::None;
            const std::string fieldTag = attribute("tag", "   ");
            record.addDataField(fieldTag, attribute("ind1", " "), attribute("ind2", " "));
        } else if (name == "subfield") {
            m_leaf = Leaf::Subfield;
            m_code = attribute("code", "");
        } else {
            m_leaf = Leaf::Other;
        }
    }

    /// Handles an end tag; true when it ends a record.
    bool finish(MarcRecord& record, std::string_view fullName)
    {
        const std::string_view name = localName(fullName);
        if (!m_inRecord)
            return false;
        if (name == "record") {
            if (!m_hasLeader) {
                record.addProblem("the record has no leader; a blank leader is written");
                record.setLeader(kBlankLeader);
            }
            m_inRecord = false;
            return true;
        }
        if (name == "leader" && m_leaf == Leaf::Leader) {
            if (m_hasLeader)
                record.addProblem("a second leader is left out");
            else
                record.setLeader(m_text);
            m_hasLeader = true;
        } else if (name == "controlfield" && m_leaf == Leaf::Control) {
            record.addControlField(m_tag, m_text);
        } else if (name == "subfield" && m_leaf == Leaf::Subfield) {
            if (record.fields().empty() || record.fields().back().control)
                record.addProblem("a subfield outside a data field is left out");
            else
                record.addSubfield(m_code, m_text);
        }
        m_leaf = Leaf::None;
        m_text.clear();
        return false;
    }

    /// Character data up to the next '<'; kept only inside a leaf element.
    bool readText()
    {
        const bool keep = m_inRecord && m_leaf != Leaf::None && m_leaf != Leaf::Other;
        for (;;) {
            int c = m_source.peek();
            if (c < 0 || c == '<')
                return c != ByteSource::kError;
            m_source.get();
            if (c == '&') {
                if (!readReference(keep ? &m_text : nullptr))
                    return false;
                continue;
            }
            if (!keep)
                continue;
            if (c == '\r') {
                // XML reads a raw CR LF or CR as LF.
                if (m_source.peek() == '\n')
                    m_source.get();
                c = '\n';
            }
            if (m_text.size() >= kMaxTokenLength)
                return fail("an element is longer than any record");
            m_text += static_cast<char>(c);
        }
    }

    bool readReference(std::string* out)
    {
        std::string name;
        for (;;) {
            const int c = m_source.get();
            if (c < 0)
                return fail("the file ends inside a reference");
            if (c == ';')
                break;
            if (name.size() > 12)
                return fail("a reference without ';'");
            name += static_cast<char>(c);
        }
        char32_t cp = 0;
        if (name == "lt") cp = '<';
        else if (name == "gt") cp = '>';
        else if (name == "amp") cp = '&';
        else if (name == "quot") cp = '"';
        else if (name == "apos") cp = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::size_t from = hex ? 2 : 1;
            if (from >= name.size())
                return fail("an empty character reference");
            for (std::size_t i = from; i < name.size(); ++i) {
                const int d = hex ? hexValue(name[i]) : (name[i] >= '0' && name[i] <= '9' ? name[i] - '0' : -1);
                if (d < 0)
                    return fail("a bad character reference &" + name + ";");
                cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
                if (cp > 0x10FFFF)
                    return fail("a character reference beyond U+10FFFF");
            }
        } else {
            return fail("an unknown entity &" + name + ";");
        }
        if (out != nullptr)
            AppendUtf8(*out, cp);
        return true;
    }

    bool skipPast(std::string_view end)
    {
        std::size_t matched = 0;
        for (;;) {
            const int c = m_source.get();
            if (c < 0)
                return fail("the file ends inside markup");
            if (c == end[matched]) {
                if (++matched == end.size())
                    return true;
            } else {
                matched = c == end[0] ? 1 : 0;
            }
        }
    }

    static bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    bool readName(std::string& name)
    {
        for (;;) {
            const int c = m_source.peek();
            if (c < 0 || isSpace(c) || c == '/' || c == '>' || c == '=')
                break;
            if (name.size() > 256)
                return fail("a name longer than 256 bytes");
            name += static_cast<char>(m_source.get());
        }
        return !name.empty() || fail("a name is missing");
    }

    void skipSpace()
    {
        while (isSpace(m_source.peek()))
            m_source.get();
    }

    /// After '<': a tag, or markup that is skipped (declaration, comment,
    /// doctype, processing instruction). CDATA adds its text.
    bool readMarkup(Tag& tag)
    {
        const int c = m_source.peek();
        if (c == '?')
            return skipPast("?>");
        if (c == '!') {
            m_source.get();
            if (m_source.peek() == '-')
                return skipPast("-->");
            if (m_source.peek() == '[') {
                std::string opening;
                for (int i = 0; i < 7; ++i)
                    opening += static_cast<char>(m_source.get());
                if (opening != "[CDATA[")
                    return fail("unknown markup <!" + opening);
                return readCdata();
            }
            return skipPast(">");
        }
        if (c == '/') {
            m_source.get();
            tag.kind = Tag::Kind::End;
            if (!readName(tag.name))
                return false;
            skipSpace();
            return m_source.get() == '>' || fail("an end tag not closed by '>'");
        }
        tag.kind = Tag::Kind::Start;
        if (!readName(tag.name))
            return false;
        for (;;) {
            skipSpace();
            const int next = m_source.get();
            if (next == '>')
                return true;
            if (next == '/') {
                tag.selfClosing = true;
                return m_source.get() == '>' || fail("'/' not followed by '>'");
            }
            if (next < 0)
                return fail("the file ends inside a tag");
            std::string name(1, static_cast<char>(next));
            if (!readName(name))
                return false;
            skipSpace();
            if (m_source.get() != '=')
                return fail("attribute " + name + " has no value");
            skipSpace();
            const int quote = m_source.get();
            if (quote != '"' && quote != '\'')
                return fail("attribute " + name + " is not quoted");
            std::string value;
            for (;;) {
                const int v = m_source.get();
                if (v < 0)
                    return fail("the file ends inside an attribute");
                if (v == quote)
                    break;
                if (v == '<')
                    return fail("'<' inside an attribute");
                if (v == '&') {
                    if (!readReference(&value))
                        return false;
                    continue;
                }
                if (value.size() > kMaxTokenLength)
                    return fail("an attribute longer than any record");
                // XML reads raw tabs and line ends in attributes as blanks.
                value += isSpace(v) ? ' ' : static_cast<char>(v);
            }
            if (tag.attributes.size() < 16)
                tag.attributes.emplace_back(std::move(name), std::move(value));
        }
    }

    bool readCdata()
    {
        const bool keep = m_inRecord && m_leaf != Leaf::None && m_leaf != Leaf::Other;
        std::size_t brackets = 0;
        for (;;) {
            const int c = m_source.get();
            if (c < 0)
                return fail("the file ends inside CDATA");
            if (c == '>' && brackets >= 2) {
                if (keep)
                    m_text.resize(m_text.size() - 2);
                return true;
            }
            brackets = c == ']' ? brackets + 1 : 0;
            if (keep) {
                if (m_text.size() >= kMaxTokenLength)
                    return fail("an element is longer than any record");
                m_text += static_cast<char>(c);
            }
        }
    }

    bool m_inRecord = false;
    bool m_hasLeader = false;
    Leaf m_leaf = Leaf::None;
    std::string m_text, m_tag, m_code;
};

// ---------------------------------------------------------------- JSON

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    std::string text;  ///< a string's value
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

class JsonReader final : public SourceReader {
public:
    explicit JsonReader(int fd) : SourceReader(fd) {}

    Step next(MarcRecord& record) override
    {
        record.clear();
        skipSpace();
        int c = m_source.peek();
        if (c == ByteSource::kError)
            return Step::ReadError;
        if (!m_started) {
            m_started = true;
            if (c == '[') {
                m_source.get();
                m_inArray = true;
                skipSpace();
                if (m_source.peek() == ']') {
                    m_source.get();
                    m_arrayClosed = true;
                }
            }
        } else if (m_inArray && !m_arrayClosed) {
            if (c == ']') {
                m_source.get();
                m_arrayClosed = true;
            } else if (c == ',') {
                m_source.get();
            } else {
                return formatError("',' or ']' expected");
            }
        }
        skipSpace();
        c = m_source.peek();
        if (c == ByteSource::kError)
            return Step::ReadError;
        if (m_arrayClosed) {
            if (c != ByteSource::kEnd)
                return formatError("text after the closing ']'");
            return Step::End;
        }
        if (c == ByteSource::kEnd) {
            if (m_inArray)
                return formatError("the file ends before the closing ']'");
            return Step::End;
        }
        JsonValue value;
        if (!parseValue(value, 0))
            return m_source.failed() ? Step::ReadError : Step::FormatError;
        take(value, record);
        return Step::Record;
    }

private:

    void skipSpace()
    {
        for (int c = m_source.peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = m_source.peek())
            m_source.get();
    }

    bool literal(std::string_view word)
    {
        for (char expected : word)
            if (m_source.get() != expected)
                return fail("a bad literal");
        return true;
    }

    bool parseValue(JsonValue& value, int depth)
    {
        if (depth > kMaxJsonDepth)
            return fail("nested too deep");
        skipSpace();
        const int c = m_source.peek();
        switch (c) {
        case '{': {
            m_source.get();
            value.kind = JsonValue::Kind::Object;
            skipSpace();
            if (m_source.peek() == '}') {
                m_source.get();
                return true;
            }
            for (;;) {
                skipSpace();
                if (m_source.peek() != '"')
                    return fail("a member name expected");
                std::string name;
                if (!parseString(name))
                    return false;
                skipSpace();
                if (m_source.get() != ':')
                    return fail("':' expected");
                JsonValue member;
                if (!parseValue(member, depth + 1))
                    return false;
                value.members.push_back({std::move(name), std::move(member)});
                skipSpace();
                const int after = m_source.get();
                if (after == '}')
                    return true;
                if (after != ',')
                    return fail("',' or '}' expected");
            }
        }
        case '[': {
            m_source.get();
            value.kind = JsonValue::Kind::Array;
            skipSpace();
            if (m_source.peek() == ']') {
                m_source.get();
                return true;
            }
            for (;;) {
                value.items.emplace_back();
                if (!parseValue(value.items.back(), depth + 1))
                    return false;
                skipSpace();
                const int after = m_source.get();
                if (after == ']')
                    return true;
                if (after != ',')
                    return fail("',' or ']' expected");
            }
        }
        case '"':
            value.kind = JsonValue::Kind::String;
            return parseString(value.text);
        case 't':
            value.kind = JsonValue::Kind::Boolean;
            return literal("true");
        case 'f':
            value.kind = JsonValue::Kind::Boolean;
            return literal("false");
        case 'n':
            return literal("null");
        default:
            if (c == '-' || (c >= '0' && c <= '9')) {
                value.kind = JsonValue::Kind::Number;
                for (int d = m_source.peek(); d == '-' || d == '+' || d == '.' || d == 'e' || d == 'E' ||
                                              (d >= '0' && d <= '9');
                     d = m_source.peek()) {
                    if (value.text.size() > 64)
                        return fail("a number too long");
                    value.text += static_cast<char>(m_source.get());
                }
                return true;
            }
            return fail(c < 0 ? "the file ends inside a value" : "a value expected");
        }
    }

    bool hex4(char32_t& unit)
    {
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hexValue(m_source.get());
            if (d < 0)
                return fail("a bad \\u escape");
            unit = unit * 16 + static_cast<char32_t>(d);
        }
        return true;
    }

    bool parseString(std::string& out)
    {
        m_source.get();  // the opening quote
        for (;;) {
            const int c = m_source.get();
            if (c < 0)
                return fail("the file ends inside a string");
            if (c == '"')
                return true;
            if (out.size() >= kMaxTokenLength)
                return fail("a string longer than any record");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const int e = m_source.get();
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                char32_t unit = 0;
                if (!hex4(unit))
                    return false;
                if (unit >= 0xD800 && unit <= 0xDBFF && m_source.peek() == '\\') {
                    m_source.get();
                    if (m_source.get() != 'u')
                        return fail("a bad escape after a high surrogate");
                    char32_t low = 0;
                    if (!hex4(low))
                        return false;
                    if (low >= 0xDC00 && low <= 0xDFFF) {
                        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    } else {
                        out += kReplacement;
                        AppendUtf8(out, low);
                    }
                } else {
                    AppendUtf8(out, unit);
                }
                break;
            }
            default:
                return fail("a bad escape in a string");
            }
        }
    }

    static const JsonValue* member(const JsonValue& object, std::string_view name)
    {
        for (const auto& [n, v] : object.members)
            if (n == name)
                return &v;
        return nullptr;
    }

    static void take(const JsonValue& value, MarcRecord& record)
    {
        if (value.kind != JsonValue::Kind::Object) {
            record.addProblem("the record is not a JSON object");
            record.setLeader(kBlankLeader);
            return;
        }
        const JsonValue* leader = member(value, "leader");
        if (leader != nullptr && leader->kind == JsonValue::Kind::String) {
            record.setLeader(leader->text);
        } else {
            record.addProblem("the record has no leader; a blank leader is written");
            record.setLeader(kBlankLeader);
        }
        const JsonValue* fields = member(value, "fields");
        if (fields == nullptr || fields->kind != JsonValue::Kind::Array) {
            record.addProblem("the record has no \"fields\" array");
            return;
        }
        for (const JsonValue& field : fields->items) {
            if (field.kind != JsonValue::Kind::Object || field.members.size() != 1) {
                record.addProblem("a field that is not an object of one tag is left out");
                continue;
            }
            const std::string& tag = field.members.front().name;
            const JsonValue& body = field.members.front().value;
            if (body.kind == JsonValue::Kind::String) {
                record.addControlField(tag, body.text);
                continue;
            }
            if (body.kind != JsonValue::Kind::Object) {
                record.addProblem("field " + tag + " is neither text nor an object and is left out");
                continue;
            }
            auto indicator = [&](std::string_view name) -> std::string {
                const JsonValue* v = member(body, name);
                if (v != nullptr && v->kind == JsonValue::Kind::String)
                    return v->text;
                record.addProblem("field " + tag + " has no " + std::string(name) + "; a blank is written");
                return " ";
            };
            const std::string ind1 = indicator("ind1");
            const std::string ind2 = indicator("ind2");
            record.addDataField(tag, ind1, ind2);
            const JsonValue* subfields = member(body, "subfields");
            if (subfields == nullptr || subfields->kind != JsonValue::Kind::Array) {
                record.addProblem("field " + tag + " has no \"subfields\" array");
                continue;
            }
            for (const JsonValue& s : subfields->items) {
                if (s.kind != JsonValue::Kind::Object || s.members.size() != 1 ||
                    s.members.front().value.kind != JsonValue::Kind::String) {
                    record.addProblem("field " + tag + ": a subfield that is not one code and its text is left out");
                    continue;
                }
                record.addSubfield(s.members.front().name, s.members.front().value.text);
            }
        }
    }

    bool m_started = false;
    bool m_inArray = false;
    bool m_arrayClosed = false;
};

}  // namespace

std::unique_ptr<RecordReader> MakeRecordReader(RecordFormat format, int fd)
{
    switch (format) {
    case RecordFormat::MarcXml:
        return std::make_unique<XmlReader>(fd);
    case RecordFormat::Json:
    case RecordFormat::JsonLines:
        return std::make_unique<JsonReader>(fd);
    case RecordFormat::Mrk:
        return std::make_unique<MrkReader>(fd);
    case RecordFormat::Iso2709:
    case RecordFormat::Text:
        break;
    }
    return nullptr;
}

}  // namespace veltrane

// SPDX-License-Identifier: Apache-2.0
#include "formats/JsonReader.h"

#include <string>
#include <utility>
#include <vector>

#include "charset/Utf8.h"
#include "formats/TextReaderBase.h"

namespace veltrane {

namespace {

using namespace textreading;

constexpr int kMaxJsonDepth = 32;

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

std::unique_ptr<RecordReader> MakeJsonReader(int fd) { return std::make_unique<JsonReader>(fd); }

}  // namespace veltrane

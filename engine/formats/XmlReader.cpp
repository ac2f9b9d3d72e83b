// SPDX-License-Identifier: Apache-2.0
#include "formats/XmlReader.h"

#include <string>
#include <utility>
#include <vector>

#include "charset/Utf8.h"
#include "formats/TextReaderBase.h"

namespace veltrane {

namespace {

using namespace textreading;

class XmlReader final : public SourceReader {
public:
    explicit XmlReader(int fd) : SourceReader(fd) {}
    explicit XmlReader(std::string_view text) : SourceReader(text) {}

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

}  // namespace

std::unique_ptr<RecordReader> MakeXmlReader(int fd) { return std::make_unique<XmlReader>(fd); }

std::unique_ptr<RecordReader> MakeXmlReader(std::string_view text) { return std::make_unique<XmlReader>(text); }

}  // namespace veltrane

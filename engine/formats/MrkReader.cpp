// SPDX-License-Identifier: Apache-2.0
#include "formats/MrkReader.h"

#include <string>
#include <utility>

#include "charset/Utf8.h"
#include "formats/TextReaderBase.h"

namespace veltrane {

namespace {

using namespace textreading;

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
        const Utf8Sequence s = Utf8SequenceAt({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, 0);
        return std::max<std::size_t>(s.length, 1);
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

}  // namespace

std::unique_ptr<RecordReader> MakeMrkReader(int fd) { return std::make_unique<MrkReader>(fd); }

}  // namespace veltrane

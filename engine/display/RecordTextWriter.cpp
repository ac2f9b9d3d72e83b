// SPDX-License-Identifier: Apache-2.0
#include "display/RecordTextWriter.h"

#include <span>

#include "charset/GbkPrivateUse.h"
#include "charset/Utf8.h"
#include "display/DecodedText.h"

namespace veltrane {

namespace {

std::span<const unsigned char> asBytes(std::string_view text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace

void AppendShownGbkText(TextCodec& codec, std::string_view bytes, std::string& out)
{
    if (const std::size_t zero = bytes.find('\0'); zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    // GBK trail bytes are never CR, LF or 0xFF, so the text can be cut there
    // before it is decoded: a bad byte never swallows a line end.
    std::size_t runStart = 0;
    auto decodeRun = [&](std::size_t end) {
        (void)codec.decode(Charset::Gbk, asBytes(bytes.substr(runStart, end - runStart)), out);
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r' || b == '\n') {
            decodeRun(i);
            out += '\n';
            if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            runStart = i + 1;
        } else if (b == kCodePage936LoneByte) {
            decodeRun(i);
            AppendUtf8(out, kCodePage936LoneByteCharacter);
            runStart = i + 1;
        }
    }
    decodeRun(bytes.size());
}

RecordTextWriter::RecordTextWriter(TextCodec& codec, const RecordTextOptions& options)
    : m_codec(codec), m_options(options)
{
}

RecordTextWriter::~RecordTextWriter() = default;

void RecordTextWriter::writeDisplayBytes(const RecordFields& fields, DisplayText& out) const
{
    out.clear();
    const std::span<const unsigned char> bytes = fields.bytes();
    RenderDisplayText(out, bytes.data(), bytes.size(), FieldTerminator(m_options.mode),
                      SubfieldDelimiter(m_options.mode));
}

bool RecordTextWriter::decodesDisplayBytes(Charset charset) const
{
    // A GBK record's lines are those of its display bytes, so that the text
    // read is the text the bytes show.
    return charset == Charset::Gbk && m_options.gbk != GbkTextLayout::Columns;
}

void RecordTextWriter::decodeDisplayBytes(std::string_view bytes, std::string& out)
{
    if (m_options.gbk == GbkTextLayout::TextControl)
        AppendShownGbkText(m_codec, bytes, out);
    else
        (void)m_codec.decode(Charset::Gbk, asBytes(bytes), out);
}

std::size_t RecordTextWriter::writeColumns(Charset charset, const RecordFields& fields, std::string& out)
{
    return RenderDecodedDisplayText(m_codec, charset, fields, FieldTerminator(m_options.mode),
                                    SubfieldDelimiter(m_options.mode), out);
}

CharsetDecision RecordTextWriter::writeText(const RecordFields& fields, std::string& out)
{
    const CharsetDecision decision = ChooseCharset(m_options.charset, fields);
    if (!decodesDisplayBytes(decision.charset)) {
        (void)writeColumns(decision.charset, fields, out);
        return decision;
    }
    if (!m_bytes)
        m_bytes = std::make_unique<DisplayText>();
    writeDisplayBytes(fields, *m_bytes);
    decodeDisplayBytes(m_bytes->text(), out);
    return decision;
}

RecordTextFacts RecordTextWriter::writeRecord(const RecordFields& fields, DisplayText& bytes, std::string& text)
{
    RecordTextFacts facts;
    facts.decision = ChooseCharset(m_options.charset, fields);
    writeDisplayBytes(fields, bytes);
    if (!decodesDisplayBytes(facts.decision.charset)) {
        facts.invalidBytes = writeColumns(facts.decision.charset, fields, text);
        return facts;
    }
    decodeDisplayBytes(bytes.text(), text);
    // The count is the one every layout reports: over the record's text runs.
    m_scratch.clear();
    facts.invalidBytes = writeColumns(facts.decision.charset, fields, m_scratch);
    return facts;
}

}  // namespace veltrane

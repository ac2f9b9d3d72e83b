// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "charset/Charset.h"
#include "display/DisplayText.h"
#include "iso2709/RecordFields.h"

namespace veltrane {

/// How the readable text of a GBK record is made. Every other set is always
/// decoded run by run and laid out at 77 display columns.
enum class GbkTextLayout {
    /// Like every other set: decoded, then laid out at 77 display columns.
    Columns,
    /// The display bytes (wrapped at 77 bytes) decoded as they stand.
    DisplayBytes,
    /// The display bytes as a text control shows them: up to the first zero
    /// byte, CR LF, LF and a lone CR each ending a line (as '\n'), and a lone
    /// 0xFF as U+F8F5, as code page 936 shows it.
    TextControl,
};

/// What the record text writer writes: the record's set under the setting,
/// the delimiter variant, and how a GBK record's text is made.
struct RecordTextOptions {
    CharsetSetting charset = CharsetSetting::Auto;
    DelimiterMode mode = dmNormal;
    GbkTextLayout gbk = GbkTextLayout::Columns;
};

/// What one record's readable text was made from.
struct RecordTextFacts {
    CharsetDecision decision;
    /// Bytes not valid in the set, counted over the record's text runs (the
    /// same count whichever layout was written).
    std::size_t invalidBytes = 0;
};

/// The record text writer: one record's fields as display text, both as the
/// display bytes (the record's own bytes, one line per field, wrapped at 77
/// bytes) and as readable UTF-8 text. It alone decides which layout a record's
/// text takes. Uses the caller's codec: one writer per thread.
class RecordTextWriter {
public:
    RecordTextWriter(TextCodec& codec, const RecordTextOptions& options);
    ~RecordTextWriter();
    RecordTextWriter(const RecordTextWriter&) = delete;
    RecordTextWriter& operator=(const RecordTextWriter&) = delete;

    [[nodiscard]] const RecordTextOptions& options() const { return m_options; }

    /// The display bytes of a record into out (emptied first).
    void writeDisplayBytes(const RecordFields& fields, DisplayText& out) const;

    /// Appends the record's readable text to out; returns the set it was read in.
    CharsetDecision writeText(const RecordFields& fields, std::string& out);

    /// Both at once, from one layout of the display bytes: the display bytes
    /// into bytes (emptied first), the readable text appended to text, the
    /// set and the invalid bytes.
    RecordTextFacts writeRecord(const RecordFields& fields, DisplayText& bytes, std::string& text);

private:
    /// Whether a record in charset is read from its display bytes.
    [[nodiscard]] bool decodesDisplayBytes(Charset charset) const;
    void decodeDisplayBytes(std::string_view bytes, std::string& out);
    /// Lays out the readable text by display columns; returns its invalid bytes.
    std::size_t writeColumns(Charset charset, const RecordFields& fields, std::string& out);

    TextCodec& m_codec;
    RecordTextOptions m_options;
    std::unique_ptr<DisplayText> m_bytes;  // made on first need: GBK text from display bytes
    std::string m_scratch;
};

/// The display bytes of a GBK record as a text control shows them (see
/// GbkTextLayout::TextControl), appended to out as UTF-8.
void AppendShownGbkText(TextCodec& codec, std::string_view displayBytes, std::string& out);

}  // namespace veltrane

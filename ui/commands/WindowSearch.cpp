// SPDX-License-Identifier: Apache-2.0
#include "commands/WindowSearch.h"

#include <optional>
#include <span>
#include <string_view>

#include "iso2709/RecordLayout.h"

namespace {

// The bytes of subfield `code` in a field's data (indicators, subfields,
// terminator): up to the next delimiter or the field terminator.
std::optional<std::span<const unsigned char>> subfield(std::span<const unsigned char> data, unsigned char code,
                                                       unsigned char delimiter, unsigned char terminator)
{
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == terminator)
            break;
        if (data[i] != delimiter || data[i + 1] != code)
            continue;
        std::size_t end = i + 2;
        while (end < data.size() && data[end] != delimiter && data[end] != terminator)
            ++end;
        return data.subspan(i + 2, end - (i + 2));
    }
    return std::nullopt;
}

}  // namespace

veltrane::SearchQuery MakeWindowSearchQuery(veltrane::CharsetSetting charset, veltrane::DelimiterMode delimiterMode, const QString& typed,
                                            const QByteArray& gbkText, bool caseSensitive, const QString& tag)
{
    return {gbkText.toStdString(), caseSensitive, delimiterMode, tag.toLatin1().toStdString(), typed.toStdString(),
            charset};
}

QString RecordTitleReader::title(const veltrane::RecordFields& fields, veltrane::DelimiterMode delimiterMode,
                                 veltrane::CharsetSetting charset)
{
    const unsigned char delimiter = veltrane::SubfieldDelimiter(delimiterMode);
    const unsigned char terminator = veltrane::FieldTerminator(delimiterMode);
    for (std::string_view wanted : {"200", "245"}) {
        for (std::size_t i = 0; i < fields.fields().size(); ++i) {
            if (fields.tag(i) != wanted)
                continue;
            const std::optional<std::span<const unsigned char>> bytes =
                subfield(fields.data(i), 'a', delimiter, terminator);
            if (!bytes)
                continue;
            m_text.clear();
            (void)m_codec.decode(veltrane::ChooseCharset(charset, fields).charset, *bytes, m_text);
            return QString::fromStdString(m_text).trimmed();
        }
    }
    return {};
}

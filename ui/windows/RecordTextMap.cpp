// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordTextMap.h"

#include <algorithm>
#include <map>

#include "display/LineWrap.h"

namespace {

constexpr int kTagLength = 3;
constexpr int kIndicatorsLength = 2;
constexpr QChar kSubfieldMark(u'$');

bool isContinuation(QStringView line)
{
    return line.size() >= veltrane::kContinuationIndent &&
           std::all_of(line.begin(), line.begin() + veltrane::kContinuationIndent,
                       [](QChar c) { return c == QLatin1Char(' '); });
}

}  // namespace

RecordTextMap::RecordTextMap(const QString& displayText) : m_text(displayText)
{
    std::map<QString, int> seen;
    int field = -1;
    int fieldLine = -1;  // the line the current field starts on
    for (qsizetype start = 0; start < displayText.size();) {
        qsizetype end = displayText.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = displayText.size();
        const QStringView text = QStringView(displayText).sliced(start, end - start);
        RecordTextLine line;
        line.start = static_cast<int>(start);
        line.length = static_cast<int>(text.size());
        if (fieldLine >= 0 && isContinuation(text)) {
            const RecordTextLine& first = m_lines[static_cast<std::size_t>(fieldLine)];
            line.tag = first.tag;
            line.occurrence = first.occurrence;
            line.control = first.control;
        } else {
            line.field = ++field;
            line.tag = text.left(kTagLength).toString();
            line.occurrence = ++seen[line.tag];
            line.control = line.tag.startsWith(QLatin1String("00"));
        }
        if (line.field >= 0)
            fieldLine = static_cast<int>(m_lines.size());
        m_lines.push_back(line);
        start = end + 1;
    }
}

int RecordTextMap::lineAt(int position) const
{
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), position,
                                        [](int p, const RecordTextLine& line) { return p < line.start; });
    if (after == m_lines.begin())
        return -1;
    const auto line = after - 1;
    return position <= line->start + line->length ? static_cast<int>(line - m_lines.begin()) : -1;
}

RecordTextElement RecordTextMap::elementAt(int position) const
{
    RecordTextElement element;
    element.line = lineAt(position);
    if (element.line < 0)
        return element;
    const RecordTextLine& line = m_lines[static_cast<std::size_t>(element.line)];
    const int column = position - line.start;
    if (column >= line.length)
        return element;
    element.kind = RecordTextElement::Kind::Data;
    if (line.field >= 0 && column < kTagLength) {
        element.kind = RecordTextElement::Kind::Tag;
        return element;
    }
    if (line.control)
        return element;
    if (line.field >= 0 && column < kTagLength + kIndicatorsLength) {
        element.kind = RecordTextElement::Kind::Indicator;
        element.indicator = column - kTagLength + 1;
        element.value = m_text[position];
        return element;
    }
    // A subfield's mark and its code; in a value, the mark of the subfield it belongs to.
    const int firstValue = line.field >= 0 ? kTagLength + kIndicatorsLength : veltrane::kContinuationIndent;
    const bool onMark = m_text[position] == kSubfieldMark && column + 1 < line.length;
    const bool onCode = column > firstValue && m_text[position - 1] == kSubfieldMark &&
                        (column < 2 || m_text[position - 2] != kSubfieldMark);
    if ((onMark && column >= firstValue) || onCode) {
        element.kind = RecordTextElement::Kind::SubfieldCode;
        element.value = m_text[onCode ? position : position + 1];
    }
    return element;
}

int RecordTextMap::fieldEndLine(int first) const
{
    int last = first;
    while (last + 1 < static_cast<int>(m_lines.size()) && m_lines[static_cast<std::size_t>(last + 1)].field < 0)
        ++last;
    return last;
}

std::optional<RecordTextSpan> RecordTextMap::placeOf(const QString& tag, int occurrence, int indicator, QChar code,
                                                     bool second, int position) const
{
    const auto found = std::find_if(m_lines.begin(), m_lines.end(), [&](const RecordTextLine& line) {
        return line.field >= 0 && line.tag == tag && line.occurrence == occurrence;
    });
    if (found == m_lines.end())
        return std::nullopt;
    const int first = static_cast<int>(found - m_lines.begin());
    const RecordTextLine& last = m_lines[static_cast<std::size_t>(fieldEndLine(first))];
    const RecordTextSpan field{found->start, last.start + last.length};
    if (!found->control && (indicator == 1 || indicator == 2) && found->length >= kTagLength + indicator)
        return RecordTextSpan{found->start + kTagLength + indicator - 1, found->start + kTagLength + indicator};
    if (!found->control && !code.isNull()) {
        int seen = 0;
        for (int at = field.start + kTagLength + kIndicatorsLength; at + 1 < field.end; ++at) {
            if (m_text[at] != kSubfieldMark || m_text[at + 1] != code || ++seen < (second ? 2 : 1))
                continue;
            int end = static_cast<int>(m_text.indexOf(kSubfieldMark, at + 2));
            return RecordTextSpan{at, end < 0 || end > field.end ? field.end : end};
        }
    }
    if (found->control && position >= 0) {
        // Count the field's bytes past its tag, over its continuation lines' indents.
        int left = position;
        for (int l = first; l <= fieldEndLine(first); ++l) {
            const RecordTextLine& line = m_lines[static_cast<std::size_t>(l)];
            const int skip = l == first ? kTagLength : veltrane::kContinuationIndent;
            if (left < line.length - skip)
                return RecordTextSpan{line.start + skip + left, line.start + skip + left + 1};
            left -= line.length - skip;
        }
    }
    return field;
}

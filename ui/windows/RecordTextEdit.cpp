// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordTextEdit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "display/LineWrap.h"

namespace {

constexpr QChar kFirstStrongIsolate(0x2068);
constexpr QChar kPopDirectionalIsolate(0x2069);
constexpr QChar kSubfieldMark(u'$');

bool isRightToLeft(char32_t c)
{
    switch (QChar::direction(c)) {
    case QChar::DirR:
    case QChar::DirAL:
    case QChar::DirAN:
        return true;
    default:
        return false;
    }
}

bool holdsRightToLeft(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (isRightToLeft(c))
            return true;
    }
    return false;
}

// Appends one line of the display text to result, each piece of a subfield
// value in it isolated when it holds right-to-left text.
void isolateLine(QStringView line, IsolatedText& result)
{
    const auto appendPiece = [&](qsizetype start, qsizetype end) {
        const QStringView piece = line.sliced(start, end - start);
        const bool isolate = holdsRightToLeft(piece);
        if (isolate) {
            result.marks.push_back(static_cast<int>(result.text.size()));
            result.text += kFirstStrongIsolate;
        }
        result.text += piece;
        if (isolate) {
            result.marks.push_back(static_cast<int>(result.text.size()));
            result.text += kPopDirectionalIsolate;
        }
    };
    // A continuation line goes on with a value after its indent; a field's
    // first line holds its tag and indicators up to the first '$'.
    const qsizetype indentSize = static_cast<qsizetype>(veltrane::kLineWrap.size()) - 1;
    const bool continuation =
        line.size() >= indentSize && std::all_of(line.begin(), line.begin() + indentSize, [](QChar c) {
            return c == QLatin1Char(' ');
        });
    qsizetype written = 0;
    qsizetype valueStart = continuation ? indentSize : -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] != kSubfieldMark)
            continue;
        if (valueStart >= 0 && valueStart < i) {
            result.text += line.sliced(written, valueStart - written);
            appendPiece(valueStart, i);
            written = i;
        }
        // The value starts after the mark and its one-character code.
        valueStart = std::min(i + 2, line.size());
        i = valueStart - 1;
    }
    if (valueStart >= 0 && valueStart < line.size()) {
        result.text += line.sliced(written, valueStart - written);
        appendPiece(valueStart, line.size());
    } else {
        result.text += line.sliced(written);
    }
}

}  // namespace

IsolatedText IsolateRightToLeftValues(const QString& displayText)
{
    IsolatedText result;
    result.text.reserve(displayText.size());
    qsizetype lineStart = 0;
    while (true) {
        const qsizetype lineEnd = displayText.indexOf(QLatin1Char('\n'), lineStart);
        isolateLine(QStringView(displayText).sliced(lineStart, (lineEnd < 0 ? displayText.size() : lineEnd) - lineStart),
                    result);
        if (lineEnd < 0)
            break;
        result.text += QLatin1Char('\n');
        lineStart = lineEnd + 1;
    }
    return result;
}

RecordTextEdit::RecordTextEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    // Text put in by other means than setDisplayText has no marks.
    connect(document(), &QTextDocument::contentsChange, this, [this](int, int, int) {
        if (!m_settingText)
            m_marks.clear();
    });
}

void RecordTextEdit::setDisplayText(const QString& text)
{
    IsolatedText isolated = IsolateRightToLeftValues(text);
    m_settingText = true;
    setPlainText(isolated.text);
    m_settingText = false;
    m_marks = std::move(isolated.marks);
}

QString RecordTextEdit::toPlainText() const
{
    return displayTextBetween(0, document()->characterCount() - 1);
}

QString RecordTextEdit::selectedDisplayText() const
{
    const QTextCursor cursor = textCursor();
    return displayTextBetween(cursor.selectionStart(), cursor.selectionEnd());
}

QString RecordTextEdit::displayTextBetween(int start, int end) const
{
    // Each block ends in one '\n' here, so positions in the plain text are document positions.
    const QString text = QPlainTextEdit::toPlainText();
    start = std::clamp(start, 0, static_cast<int>(text.size()));
    end = std::clamp(end, start, static_cast<int>(text.size()));
    QString shown;
    shown.reserve(end - start);
    auto mark = std::lower_bound(m_marks.begin(), m_marks.end(), start);
    for (int at = start; at < end;) {
        const int next = mark != m_marks.end() ? std::min(*mark, end) : end;
        shown += QStringView(text).sliced(at, next - at);
        at = next;
        if (mark != m_marks.end() && *mark == at) {
            ++at;
            ++mark;
        }
    }
    return shown;
}

int RecordTextEdit::documentPosition(int position) const
{
    for (const int mark : m_marks) {
        if (mark > position)
            break;
        ++position;
    }
    return position;
}

int RecordTextEdit::displayPosition(int position) const
{
    const auto before = std::lower_bound(m_marks.begin(), m_marks.end(), position);
    return position - static_cast<int>(before - m_marks.begin());
}

QMimeData* RecordTextEdit::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(selectedDisplayText());
    return data;
}

bool RecordTextEdit::followsOpeningMark(int position) const
{
    const auto mark = std::lower_bound(m_marks.begin(), m_marks.end(), position - 1);
    // Marks come in pairs, the opening one first.
    return mark != m_marks.end() && *mark == position - 1 && (mark - m_marks.begin()) % 2 == 0;
}

void RecordTextEdit::keyPressEvent(QKeyEvent* event)
{
    const int before = textCursor().position();
    QPlainTextEdit::keyPressEvent(event);
    QTextCursor cursor = textCursor();
    const int after = cursor.position();
    if (after == before || !followsOpeningMark(after))
        return;
    // A step onto the far side of an opening mark would not move the cursor
    // on screen: a step along goes on over the mark, any other move stays
    // before it.
    const int onward = after - before == 1 ? after + 1 : after - 1;
    cursor.setPosition(onward, cursor.hasSelection() ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
    setTextCursor(cursor);
}

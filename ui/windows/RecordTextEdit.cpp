// SPDX-License-Identifier: Apache-2.0
#include "windows/RecordTextEdit.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolTip>

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

// The column of line names: painted as a line-number area is, line by line
// where the text's lines stand, so that it scrolls and zooms with them.
class RecordTextEdit::NameColumn : public QWidget {
public:
    explicit NameColumn(RecordTextEdit* memo) : QWidget(memo), m_memo(memo)
    {
        setObjectName(QStringLiteral("LineNames"));
        setAccessibleName(QStringLiteral("字段说明"));
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
        painter.setFont(m_memo->font());
        painter.setPen(palette().color(QPalette::PlaceholderText));
        const int margin = fontMetrics().averageCharWidth() / 2;
        const int width = this->width() - 2 * margin;
        for (const ShownLine& line : m_memo->shownLines()) {
            const QString name = m_memo->m_lineNames.value(line.line);
            if (name.isEmpty())
                continue;
            painter.drawText(QRect(margin, line.top, width, line.bottom - line.top), Qt::AlignLeft | Qt::AlignVCenter,
                             QFontMetrics(m_memo->font()).elidedText(name, Qt::ElideRight, width));
        }
    }

    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        auto* help = static_cast<QHelpEvent*>(event);
        for (const ShownLine& line : m_memo->shownLines()) {
            if (help->pos().y() < line.top || help->pos().y() >= line.bottom)
                continue;
            const QString tip = m_memo->m_lineToolTips.value(line.line, m_memo->m_lineNames.value(line.line));
            if (!tip.isEmpty()) {
                QToolTip::showText(help->globalPos(), tip, this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }

private:
    RecordTextEdit* m_memo;
};

QWidget* RecordTextEdit::lineNameColumn() const
{
    return m_nameColumn;
}

void RecordTextEdit::setLineNames(QStringList names, QStringList toolTips)
{
    m_lineNames = std::move(names);
    m_lineToolTips = std::move(toolTips);
    if (m_nameColumn != nullptr)
        m_nameColumn->update();
}

void RecordTextEdit::setLineNamesShown(bool shown)
{
    if (shown && m_nameColumn == nullptr) {
        m_nameColumn = new NameColumn(this);
        // The column follows the text as it scrolls or changes.
        connect(this, &QPlainTextEdit::updateRequest, m_nameColumn, [this](const QRect& rect, int dy) {
            if (dy != 0)
                m_nameColumn->scroll(0, dy);
            else
                m_nameColumn->update(0, rect.y(), m_nameColumn->width(), rect.height());
        });
    }
    m_lineNamesShown = shown;
    layOutNameColumn();
}

int RecordTextEdit::nameColumnWidth() const
{
    constexpr int kNameCharacters = 8;
    return QFontMetrics(font()).horizontalAdvance(QString(kNameCharacters, QChar(0x5B57))) +
           QFontMetrics(font()).averageCharWidth();
}

void RecordTextEdit::layOutNameColumn()
{
    const int width = m_lineNamesShown ? nameColumnWidth() : 0;
    setViewportMargins(width, 0, 0, 0);
    if (m_nameColumn == nullptr)
        return;
    const QRect contents = contentsRect();
    m_nameColumn->setGeometry(contents.left(), contents.top(), width, viewport()->height());
    m_nameColumn->setVisible(m_lineNamesShown);
    m_nameColumn->update();
}

void RecordTextEdit::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    layOutNameColumn();
}

void RecordTextEdit::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    // Zoom changes the font: the column widens or narrows with the text.
    if (event->type() == QEvent::FontChange)
        layOutNameColumn();
}

std::vector<RecordTextEdit::ShownLine> RecordTextEdit::shownLines() const
{
    std::vector<ShownLine> lines;
    QTextBlock block = firstVisibleBlock();
    const QPointF offset = contentOffset();
    const int bottomOfView = viewport()->height();
    while (block.isValid()) {
        const QRectF box = blockBoundingGeometry(block).translated(offset);
        if (box.top() > bottomOfView)
            break;
        if (block.isVisible())
            lines.push_back({block.blockNumber(), qRound(box.top()), qRound(box.bottom())});
        block = block.next();
    }
    return lines;
}

int RecordTextEdit::displayPositionAt(QPoint at) const
{
    const QTextCursor cursor = cursorForPosition(at);
    const int position = cursor.position();
    const QTextBlock block = cursor.block();
    // The cursor lands on the nearest edge between characters: the character
    // is the one whose box holds the point.
    for (const int candidate : {position, position - 1}) {
        if (candidate < block.position() || candidate >= block.position() + block.length() - 1)
            continue;
        QTextCursor start(document());
        start.setPosition(candidate);
        QTextCursor end(document());
        end.setPosition(candidate + 1);
        const QRect left = cursorRect(start);
        const QRect right = cursorRect(end);
        if (at.y() >= left.top() && at.y() <= left.bottom() && at.x() >= std::min(left.x(), right.x()) &&
            at.x() < std::max(left.x(), right.x()))
            return displayPosition(candidate);
    }
    return -1;
}

bool RecordTextEdit::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QPlainTextEdit::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const int position = displayPositionAt(help->pos());
    QStringList tip;
    if (position >= 0) {
        for (const Underline& underline : m_underlines)
            if (position >= underline.start && position < underline.end)
                tip.append(underline.message);
        if (m_toolTipSource) {
            const QString element = m_toolTipSource(position);
            if (!element.isEmpty())
                tip.prepend(element);
        }
    }
    if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        QToolTip::showText(help->globalPos(), tip.join(QLatin1Char('\n')), viewport());
    }
    return true;
}

void RecordTextEdit::setUnderlines(std::vector<Underline> underlines)
{
    m_underlines = std::move(underlines);
    QList<QTextEdit::ExtraSelection> selections;
    for (const Underline& underline : m_underlines) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(document());
        selection.cursor.setPosition(documentPosition(underline.start));
        selection.cursor.setPosition(documentPosition(underline.end), QTextCursor::KeepAnchor);
        selection.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        selection.format.setUnderlineColor(Qt::red);
        selections.append(selection);
    }
    setExtraSelections(selections);
}
